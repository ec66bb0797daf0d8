#pragma once

// The transport of a controller whose vault could not be opened (no store): there is no page.
// Without a store nothing can be saved or sent, and storage can only come back by reopening the
// application, so the controller never needs the page; a real browser would instead make a Dot
// profile folder, with its cookie database, for an account that exists only in memory, and a
// failed start must leave the disk as it was. Every page action fails with the storage sentence.

#include <string>

#include "Sentences.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/transport/DotTransport.hpp"

namespace quorvane {

class NoPageTransport final : public DotTransport {
public:
    bool loading() const override { return false; }
    const std::string& error() const override { return error_; }
    void setOnChange(std::function<void()>) override { }
    void open(std::string_view) override { }
    void show() override { }
    void showMessage(std::string, std::string) override { }
    void shutdown() override { }
    Task<DotSnapshot> inspect() override
    {
        throw AppFailure(sentences::storageUnavailable);
        co_return DotSnapshot {};
    }
    Task<void> prepare(std::string, std::string) override { return fail(); }
    Task<void> send(std::string, std::string) override { return fail(); }
    Task<void> clearDraft(std::string, std::string) override { return fail(); }
    bool windowVisible() const override { return false; }
    void hideWindow() override { }

private:
    static Task<void> fail()
    {
        throw AppFailure(sentences::storageUnavailable);
        co_return;
    }
    const std::string error_;
};

}  // namespace quorvane
