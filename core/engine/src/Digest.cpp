#include "quorvane/Digest.hpp"

#include <memory>

#include <glib.h>

namespace quorvane {

std::string sha256Hex(std::string_view bytes)
{
    // GLib writes the digest as lower-case hexadecimal digits, the form every fingerprint uses.
    std::unique_ptr<gchar, decltype(&g_free)> hex(
        g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size()),
        &g_free);
    return std::string(hex.get());
}

}  // namespace quorvane
