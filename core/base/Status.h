#pragma once
// Status: the outcome of an operation that can fail, passed as a value across layers.
// A default Status is success and costs nothing; a failure carries a code and a
// user-readable message (Simplified Chinese) naming what failed and where. The core
// never throws across its public boundary: the window turns a failed Status into a
// message box, the command line into one line on stderr and exit status 2.

#include <QString>

#include <exception>
#include <new>

namespace quellar {

class [[nodiscard]] Status {
public:
    enum class Code { Ok, InvalidInput, NotFound, IoError, Unsupported, Cancelled };

    Status() = default;

    static Status ok() { return Status(); }
    static Status invalidInput(const QString& message) { return Status(Code::InvalidInput, message); }
    static Status notFound(const QString& message) { return Status(Code::NotFound, message); }
    static Status ioError(const QString& message) { return Status(Code::IoError, message); }
    static Status unsupported(const QString& message) { return Status(Code::Unsupported, message); }
    static Status cancelled(const QString& message = {}) { return Status(Code::Cancelled, message); }

    bool isOk() const { return code_ == Code::Ok; }
    explicit operator bool() const { return isOk(); }
    Code code() const { return code_; }
    const QString& message() const { return message_; }

    // Returns a copy whose message starts with `context` (e.g. the file name).
    Status withContext(const QString& context) const {
        if (isOk()) return *this;
        return Status(code_, context + QStringLiteral("：") + message_);
    }

private:
    Status(Code code, const QString& message)
        : code_(code)
        , message_(message) {}
    Code code_ = Code::Ok;
    QString message_;
};

// Thrown at a cancellation point (base/Progress.h) once the user has cancelled the work, and
// turned into Status::cancelled() where the work started. It is no std::exception on purpose:
// the readers' and writers' handlers for those turn them into failure messages, and a
// cancellation is no failure.
struct WorkCancelled {};

// Inside a catch block: the failure the exception being handled stands for. An allocation
// failure is "内存不足", a cancellation Status::cancelled(); any other exception is an internal error with
// its description. The boundaries that catch exceptions (file formats, worker threads, every command of the
// window and of quellar-cli) report through this, so the same failure reads the same everywhere.
inline Status currentExceptionStatus() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return Status::ioError(QStringLiteral("内存不足"));
    } catch (const WorkCancelled&) {
        return Status::cancelled();
    } catch (const std::exception& e) {
        return Status::ioError(QStringLiteral("内部错误（%1）").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        return Status::ioError(QStringLiteral("内部错误"));
    }
}

// Runs `body` (which returns a Status) and returns its Status, or the failure of an exception
// escaping it. For code that must not let an exception pass: thread bodies, boundaries.
template <typename Body> Status runGuarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return currentExceptionStatus();
    }
}

// A value or the Status explaining why there is none.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value)
        : value_(std::move(value)) {}
    Result(Status status)
        : status_(std::move(status)) {}

    bool isOk() const { return status_.isOk(); }
    const Status& status() const { return status_; }
    T& value() { return value_; }
    const T& value() const { return value_; }
    T&& take() { return std::move(value_); }

private:
    T value_{};
    Status status_;
};

} // namespace quellar
