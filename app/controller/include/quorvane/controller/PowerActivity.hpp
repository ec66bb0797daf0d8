#pragma once

// Keeping the computer awake while a Dot reply is expected. hold() starts an activity that
// keeps the session from idling and suspending; destroying the returned Hold ends it. The
// shell's holds are gtk_application_inhibit cookies (idle and suspend); tests count them.

#include <memory>
#include <string_view>

namespace quorvane {

class PowerActivity {
public:
    class Hold {
    public:
        virtual ~Hold() = default;  // ends the activity
    };

    virtual ~PowerActivity() = default;
    virtual std::unique_ptr<Hold> hold(std::string_view reason) = 0;
};

}  // namespace quorvane
