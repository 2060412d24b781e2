#pragma once

// A text recognizer whose recognitions wait, each on its own thread-pool thread, until the test
// lets them finish (in any order) with no lines or with an error. A recognition nobody lets go
// gives up after ten seconds with no lines, so a failing test cannot hang.
//
// Each waiting recognition holds a thread of the global pool, which has only as many threads as
// the machine has cores: on two cores, a recognition held while the test waits for the next one
// to start would leave that one no thread. The pool is given room for the held ones. Once
// releaseAll() has run (the test is over), a recognition that starts late (a loaded machine
// starts queued work late) finishes at once instead of holding a thread for ten seconds.
#include "window_translation/text_recognizing.h"

#include <QThreadPool>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace tavrolin::test {

class GatedTextRecognizer final : public TextRecognizing {
public:
    static constexpr int poolThreadsNeeded = 8;

    GatedTextRecognizer() {
        QThreadPool* pool = QThreadPool::globalInstance();
        pool->setMaxThreadCount(std::max(pool->maxThreadCount(), poolThreadsNeeded));
    }

    RecognizedTextResult recognizeText(const QImage&, AppLanguage, bool) const override {
        std::unique_lock lock(mutex_);
        if (closed_) {
            return {};
        }
        const std::size_t index = gates_.size();
        gates_.push_back({});
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return gates_[index].open; });
        if (gates_[index].error) {
            std::rethrow_exception(gates_[index].error);
        }
        return {};
    }
    std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>&, AppLanguage,
                                                               const std::set<AppLanguage>&) const override {
        return std::nullopt;
    }

    // How many recognitions have started. (A test waits for them with its event loop running:
    // the pipeline reaches recognition through the GUI thread.)
    std::size_t startedCount() const {
        std::lock_guard lock(mutex_);
        return gates_.size();
    }
    void release(std::size_t index, std::exception_ptr error = nullptr) {
        std::lock_guard lock(mutex_);
        gates_.at(index).open = true;
        gates_.at(index).error = std::move(error);
        changed_.notify_all();
    }
    void releaseAll() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (Gate& gate : gates_) {
            gate.open = true;
        }
        changed_.notify_all();
    }

private:
    struct Gate {
        bool open = false;
        std::exception_ptr error;
    };
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::vector<Gate> gates_;
    bool closed_ = false;
};

}  // namespace tavrolin::test
