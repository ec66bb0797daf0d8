#pragma once

// Whether the desktop prefers a dark appearance: the user's own preference, whatever theme
// Quorvane forces on its windows (AdwStyleManager reports the forced one, so it cannot say).
//
// Read from the desktop's settings portal (org.freedesktop.appearance color-scheme: 1 is
// "prefer dark"), followed through its SettingChanged signal. Without a portal the answer is
// GNOME's color-scheme setting when its schema is installed, else light. (GTK's prefer-dark
// flag is no witness: libadwaita sets it itself for the scheme Quorvane forces.)
// onChange is called with the first answer and then with every change; the portal is asked
// asynchronously, so start-up never waits on the bus.

#include <functional>
#include <memory>

namespace quorvane {

class DesktopAppearance {
public:
    DesktopAppearance();
    ~DesktopAppearance();
    DesktopAppearance(const DesktopAppearance&) = delete;
    DesktopAppearance& operator=(const DesktopAppearance&) = delete;

    // Starts observing; `onChange` receives whether the desktop prefers dark.
    void observe(std::function<void(bool dark)> onChange);
    bool prefersDark() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quorvane
