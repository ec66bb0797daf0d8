// Dot's HTML is hostile. Each reply below tries to run script, reach the bridge, navigate the
// window or clobber the page's own functions. Shown in a conversation (and with every link in it
// clicked), none may run a line of script, post a bridge message or start a navigation, and the
// page must keep working afterwards.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "PageHost.hpp"
#include "Scenes.hpp"

namespace quorvane::testing {
namespace {

// What a payload's script would do if it ran: mark the document and talk to the bridge.
#define PWN "top.document.title='pwned';top.postMessage({quorvane:{id:'x',command:'pwned',data:{}}},'*')"

struct Hostile {
    const char* name;
    const char* html;
};

const Hostile kHostile[] = {
    { "script element", "<p>hi</p><script>" PWN "</script>" },
    { "event handler", "<img src=x onerror=\"" PWN "\">" },
    { "handler on a div", "<div onmouseover=\"" PWN "\" onclick=\"" PWN "\">hover me</div>" },
    { "javascript link", "<a href=\"javascript:" PWN "\">click</a>" },
    { "javascript link with entities", "<a href=\"jav&#x09;ascript:" PWN "\">click</a>" },
    { "javascript link with spaces", "<a href=\"  javascript:" PWN "\">click</a>" },
    { "data link", "<a href=\"data:text/html,<script>" PWN "</script>\">click</a>" },
    { "link with target", "<a href=\"#top\" target=\"_top\">top</a>" },
    { "svg script", "<svg><script>" PWN "</script></svg>" },
    { "svg onload", "<svg onload=\"" PWN "\"><circle r=\"4\"/></svg>" },
    { "svg animate", "<svg><animate onbegin=\"" PWN "\" attributeName=\"x\" dur=\"1s\"/></svg>" },
    { "svg link", "<svg><a xlink:href=\"javascript:" PWN "\"><text y=\"20\">x</text></a></svg>" },
    { "mathml link", "<math><mi xlink:href=\"data:x,<script>" PWN "</script>\">x</mi></math>" },
    { "form", "<form action=\"javascript:" PWN "\"><input name=\"q\"><button>go</button></form>" },
    { "formaction", "<button formaction=\"javascript:" PWN "\">go</button>" },
    { "meta refresh to script", "<meta http-equiv=\"refresh\" content=\"0;url=javascript:" PWN "\">" },
    { "meta refresh away", "<meta http-equiv=\"refresh\" content=\"0;url=https://evil.example/\">" },
    { "base", "<base href=\"https://evil.example/\"><a href=\"x\">relative</a>" },
    { "iframe javascript", "<iframe src=\"javascript:" PWN "\"></iframe>" },
    { "iframe srcdoc", "<iframe srcdoc=\"<script>" PWN "</script>\"></iframe>" },
    { "object", "<object data=\"javascript:" PWN "\"></object><embed src=\"javascript:" PWN "\">" },
    { "style", "<style>body{display:none}</style><p style=\"position:fixed;inset:0;background:red\">cover</p>" },
    { "details toggle", "<details open ontoggle=\"" PWN "\"><summary>x</summary></details>" },
    { "clobbering",
        "<img name=\"receiveState\"><form id=\"nativeResult\"></form><a id=\"flushDraft\"></a><img "
        "name=\"postMessage\"><a id=\"showSettings\" name=\"showSettings\"></a><img name=\"webkit\"><form "
        "name=\"quorvane\"></form>" },
    { "clobbering document",
        "<img name=\"getElementById\"><img name=\"querySelector\"><form name=\"body\"></form><img id=\"app\">" },
    { "noscript mxss", "<noscript><p title=\"</noscript><img src=x onerror=" PWN ">\"></noscript>" },
    { "svg style mxss", "<svg></p><style><a id=\"</style><img src=1 onerror=" PWN ">\">" },
    { "form mglyph mxss", "<form><math><mtext></form><form><mglyph><style></math><img src onerror=" PWN ">" },
    { "math mtext table mxss",
        "<math><mtext><table><mglyph><style><!--</style><img title=\"--&gt;&lt;img src=1 onerror=" PWN "&gt;\">" },
    { "template mxss", "<template><s><template><style><img src=x onerror=" PWN "></style></template></s></template>" },
    { "comment mxss", "<!--><img src=x onerror=" PWN ">-->" },
    { "textarea mxss", "<textarea><img src=x onerror=" PWN "></textarea>" },
    { "namespace confusion",
        "<svg><foreignobject><p><style><img src=x onerror=" PWN "></style></p></foreignobject></svg>" },
};

TEST(InterfaceHostileHTML, NoScriptNoBridgeMessageNoNavigation)
{
    PageHost host;
    host.load();
    for (const auto& hostile : kHostile) {
        SCOPED_TRACE(hostile.name);
        SceneState state = busyConversation();
        Account& account = state.vault.account();
        std::string id = requestID(500);
        account.enqueue("Show me something", id, false, Text("dot"), std::nullopt, std::nullopt, 820000000.0);
        account.acceptResponse(id, ReplyContent { "hostile", Text(hostile.html) }, false, 820000010.0);
        account.unreadBots.reset();  // so the page has no reason to post "read"
        std::size_t mark = host.commands.size();
        int navigations = host.navigationAttempts;
        host.receiveState(encodeState(state));
        host.settle();
        // Hover and click everything the reply drew, as a curious user would.
        host.run(R"js(
          const reply = document.querySelector('[data-message-id$="500-reply"]');
          if (!reply) throw new Error('the reply is not shown');
          for (const e of reply.querySelectorAll('.rich *')) {
            e.dispatchEvent(new MouseEvent('mouseover', { bubbles: true }));
            if (e.tagName !== 'A' || !/^https?:/.test(e.getAttribute('href') || '')) e.click();
          }
          return true;)js");
        runFor(0.3);
        EXPECT_EQ(host.run("return document.title;"), "\"Quorvane\"") << "script ran";
        EXPECT_TRUE(host.since(mark).empty()) << "the page posted " << host.since(mark).front().command;
        EXPECT_EQ(host.navigationAttempts, navigations) << "a navigation was attempted";
        std::string dangerous = host.run(R"js(
          const reply = document.querySelector('[data-message-id$="500-reply"]');
          const found = [...reply.querySelectorAll('script, iframe, frame, object, embed, form, input, button:not(.tool), textarea, style, meta, base, svg, math, template, noscript')]
            .filter((e) => !e.closest('.reply-tools')).map((e) => e.tagName);
          for (const e of reply.querySelectorAll('.rich *')) {
            for (const a of e.attributes) {
              if (/^on/i.test(a.name) || a.name === 'style' || a.name === 'target' || a.name === 'formaction') found.push(e.tagName + '@' + a.name);
              if ((a.name === 'href' || a.name === 'src' || a.name === 'xlink:href') && !/^(https?:|data:image\/)/i.test(a.value)) found.push(e.tagName + '@' + a.name + '=' + a.value);
              if ((a.name === 'id' || a.name === 'name') && !a.value.startsWith('user-content-')) found.push(e.tagName + '#' + a.value);
            }
          }
          return found.join(' ');)js");
        EXPECT_EQ(dangerous, "\"\"");
        // The page's own functions are intact: it still takes a state and still answers a click.
        EXPECT_EQ(
            host.runInPage("return [typeof window.receiveState, typeof window.nativeResult, typeof window.flushDraft, "
                           "typeof window.showSettings, typeof window.postMessage].join();"),
            "\"function,function,function,function,function\"");
    }
    std::size_t mark = host.commands.size();
    host.receiveState(encodeState(busyConversation()));
    host.settle();
    host.run("document.querySelector('.bot-row:not(.selected)').click(); return true;");
    EXPECT_NO_THROW(host.waitFor("select", mark));
}

}  // namespace
}  // namespace quorvane::testing
