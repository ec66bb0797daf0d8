#pragma once

// The system clipboard, as far as commands need it: replace its contents with plain text. The
// shell's is the display's GdkClipboard.

#include <string_view>

namespace quorvane {

class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    virtual void putPlainText(std::string_view text) = 0;
};

}  // namespace quorvane
