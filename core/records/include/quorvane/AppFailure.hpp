#pragma once

// The two user-facing error types. Their message is a complete sentence that the interface
// shows unchanged, so it doubles as what().

#include <exception>
#include <string>

namespace quorvane {

// An operation of the core refused its input; the records it would have changed are as they were.
class AppFailure : public std::exception {
public:
    explicit AppFailure(std::string message)
        : message(std::move(message))
    {
    }
    const char* what() const noexcept override { return message.c_str(); }
    std::string message;
};

// The Dot page refused a page action (the text did not reach the conversation).
class NotSubmitted : public std::exception {
public:
    explicit NotSubmitted(std::string message)
        : message(std::move(message))
    {
    }
    const char* what() const noexcept override { return message.c_str(); }
    std::string message;
};

}  // namespace quorvane
