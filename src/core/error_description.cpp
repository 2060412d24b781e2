#include "core/error_description.h"

#include "core/capture_workflow_error.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace tavrolin {

namespace {

QString readableTypeName(const std::type_info* type) {
    if (type == nullptr) {
        return QStringLiteral("unknown");
    }
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                     std::free);
    QString name = status == 0 && demangled ? QString::fromUtf8(demangled.get()) : QString::fromUtf8(type->name());
    name.replace(QStringLiteral("::"), QStringLiteral("."));
    if (name.startsWith(QStringLiteral("tavrolin."))) {
        name.replace(0, 1, QLatin1Char('T'));
    }
    return name;
}

}  // namespace

QString errorTypeName(const std::exception& error) {
    return readableTypeName(&typeid(error));
}

QString errorTypeName(const std::exception_ptr& error) {
    if (!error) {
        return QStringLiteral("unknown");
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return errorTypeName(e);
    } catch (...) {
        return readableTypeName(abi::__cxa_current_exception_type());
    }
}

QString errorDescription(const std::exception& error) {
    if (const auto* workflowError = dynamic_cast<const CaptureWorkflowError*>(&error)) {
        return workflowError->logDescription();
    }
    return QString::fromUtf8(error.what());
}

QString errorDescription(const std::exception_ptr& error) {
    if (!error) {
        return QStringLiteral("unknown error");
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return errorDescription(e);
    } catch (...) {
        return readableTypeName(abi::__cxa_current_exception_type());
    }
}

}  // namespace tavrolin
