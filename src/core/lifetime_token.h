#pragma once

#include <memory>
#include <utility>

namespace tavrolin {

// Tells a callback or a task that may run after its owner is gone whether the owner is still
// there. The owner holds a LifetimeToken over itself as a member; each callback keeps a Weak
// copy and asks it before touching the owner. The owner may end the token early (at the start of
// its destructor, or to disown the callbacks handed out so far with renew()), after which every
// earlier Weak answers null. Main thread only: a thread needs an atomic of its own.
// QObjects use QPointer instead, which answers the same question.
template <typename Owner>
class LifetimeToken {
public:
    class Weak {
    public:
        Weak() = default;
        // The owner, or null once it is gone.
        Owner* get() const {
            const std::shared_ptr<Owner*> cell = cell_.lock();
            return cell ? *cell : nullptr;
        }
        explicit operator bool() const { return get() != nullptr; }
        Owner* operator->() const { return get(); }

    private:
        friend class LifetimeToken;
        explicit Weak(std::weak_ptr<Owner*> cell) : cell_(std::move(cell)) {}
        std::weak_ptr<Owner*> cell_;
    };

    explicit LifetimeToken(Owner* owner) : owner_(owner), cell_(std::make_shared<Owner*>(owner)) {}
    ~LifetimeToken() { end(); }
    LifetimeToken(const LifetimeToken&) = delete;
    LifetimeToken& operator=(const LifetimeToken&) = delete;

    Weak weak() const { return Weak(cell_); }

    // Every Weak handed out so far answers null from now on; later ones too, until renew().
    void end() {
        if (cell_) {
            *cell_ = nullptr;
            cell_.reset();
        }
    }

    // Ends the Weak copies handed out so far; new ones answer the owner again.
    void renew() {
        end();
        cell_ = std::make_shared<Owner*>(owner_);
    }

private:
    Owner* owner_;
    std::shared_ptr<Owner*> cell_;
};

}  // namespace tavrolin
