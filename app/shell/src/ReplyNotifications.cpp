#include <utility>

#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/PlatformServices.hpp"

namespace quorvane {

void sendDesktopNotification(GApplication* application, const DesktopNotification& notification)
{
    auto sent = GObjectPtr<GNotification>::adopt(g_notification_new(notification.title.c_str()));
    if (!notification.body.empty())
        g_notification_set_body(sent.get(), notification.body.c_str());
    g_notification_set_default_action_and_target_value(sent.get(), kShowConversationAction,
        g_variant_new("(ss)", notification.accountID.c_str(), notification.botID.c_str()));
    g_application_send_notification(application, notification.id.c_str(), sent.get());
}

DesktopReplyNotifier::DesktopReplyNotifier(Hooks hooks)
    : hooks_(std::move(hooks))
{
}

void DesktopReplyNotifier::replyFiled(const ReplyNotice& notice)
{
    // The user reading the window sees the reply arrive there; a notification would only repeat it.
    if (hooks_.windowActive && hooks_.windowActive())
        return;
    if (hooks_.enabled && !hooks_.enabled())
        return;
    if (!hooks_.send)
        return;
    // One notification per conversation: a newer reply of the same bot replaces the older one
    // rather than piling up beside it.
    hooks_.send(DesktopNotification {
        "reply-" + notice.accountID + "-" + notice.botID, notice.title, notice.body, notice.accountID, notice.botID });
}

}  // namespace quorvane
