#include "quorvane/updates/Appcast.hpp"

#include <cstddef>
#include <map>
#include <memory>
#include <utility>

#include <glib.h>

namespace quorvane {
namespace {

constexpr std::string_view sparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";
// Feeds are a few levels deep; a limit keeps a hostile document from nesting without end.
constexpr std::size_t maximumDepth = 32;

struct Name {
    std::string uri;
    std::string local;
    bool is(std::string_view u, std::string_view l) const { return uri == u && local == l; }
};

struct Element {
    Name name;
    std::vector<std::pair<Name, std::string>> attributes;
    std::string text;
    std::vector<std::unique_ptr<Element>> children;

    const Element* child(std::string_view uri, std::string_view local) const
    {
        for (const auto& c : children)
            if (c->name.is(uri, local))
                return c.get();
        return nullptr;
    }
    const std::string* attribute(std::string_view uri, std::string_view local) const
    {
        for (const auto& [n, v] : attributes)
            if (n.is(uri, local))
                return &v;
        return nullptr;
    }
};

// Builds a small element tree with namespaces resolved. GMarkup reads the XML itself (elements,
// attributes, the predefined entities, character references, CDATA) and knows nothing of
// namespaces, so the prefixes in scope are tracked here.
class TreeBuilder {
public:
    std::unique_ptr<Element> root;

    static void startElement(GMarkupParseContext*, const char* elementName, const char** names, const char** values,
        gpointer data, GError** error)
    {
        static_cast<TreeBuilder*>(data)->start(elementName, names, values, error);
    }
    static void endElement(GMarkupParseContext*, const char*, gpointer data, GError**)
    {
        auto* self = static_cast<TreeBuilder*>(data);
        self->open_.pop_back();
        self->scopes_.pop_back();
    }
    static void text(GMarkupParseContext*, const char* text, gsize length, gpointer data, GError**)
    {
        auto* self = static_cast<TreeBuilder*>(data);
        if (!self->open_.empty())
            self->open_.back()->text.append(text, length);
    }

private:
    void start(const char* elementName, const char** names, const char** values, GError** error)
    {
        if (open_.size() >= maximumDepth) {
            g_set_error(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, "elements nest too deeply");
            return;
        }
        std::map<std::string, std::string> scope
            = scopes_.empty() ? std::map<std::string, std::string> {} : scopes_.back();
        for (std::size_t i = 0; names[i]; ++i) {
            std::string_view attribute = names[i];
            if (attribute == "xmlns")
                scope[""] = values[i];
            else if (attribute.starts_with("xmlns:"))
                scope[std::string(attribute.substr(6))] = values[i];
        }

        auto element = std::make_unique<Element>();
        if (!resolve(elementName, scope, true, element->name, error))
            return;
        for (std::size_t i = 0; names[i]; ++i) {
            std::string_view attribute = names[i];
            if (attribute == "xmlns" || attribute.starts_with("xmlns:"))
                continue;
            Name name;
            if (!resolve(attribute, scope, false, name, error))
                return;
            element->attributes.emplace_back(std::move(name), values[i]);
        }

        Element* raw = element.get();
        if (open_.empty())
            root = std::move(element);
        else
            open_.back()->children.push_back(std::move(element));
        open_.push_back(raw);
        scopes_.push_back(std::move(scope));
    }

    // Unprefixed attributes have no namespace; unprefixed elements take the default one.
    static bool resolve(std::string_view qualified, const std::map<std::string, std::string>& scope, bool isElement,
        Name& out, GError** error)
    {
        auto colon = qualified.find(':');
        if (colon == std::string_view::npos) {
            auto found = scope.find("");
            out.uri = isElement && found != scope.end() ? found->second : "";
            out.local = std::string(qualified);
            return true;
        }
        auto found = scope.find(std::string(qualified.substr(0, colon)));
        if (found == scope.end()) {
            std::string prefix(qualified.substr(0, colon));
            g_set_error(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT,
                "the prefix “%s” is not bound to a namespace", prefix.c_str());
            return false;
        }
        out.uri = found->second;
        out.local = std::string(qualified.substr(colon + 1));
        return true;
    }

    std::vector<Element*> open_;
    std::vector<std::map<std::string, std::string>> scopes_;
};

std::unique_ptr<Element> parseTree(std::string_view xml)
{
    static const GMarkupParser parser = {
        TreeBuilder::startElement,
        TreeBuilder::endElement,
        TreeBuilder::text,
        nullptr,
        nullptr,
    };
    TreeBuilder builder;
    GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &builder, nullptr);
    GError* error = nullptr;
    bool ok = g_markup_parse_context_parse(context, xml.data(), static_cast<gssize>(xml.size()), &error)
        && g_markup_parse_context_end_parse(context, &error);
    g_markup_parse_context_free(context);
    if (!ok) {
        std::string message
            = std::string("The update feed is not well-formed XML: ") + (error ? error->message : "unknown error");
        g_clear_error(&error);
        throw AppcastParseError(message);
    }
    return std::move(builder.root);
}

std::string trimmed(std::string_view text)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::optional<std::string> childText(const Element& parent, std::string_view uri, std::string_view local)
{
    const Element* child = parent.child(uri, local);
    if (!child)
        return std::nullopt;
    std::string text = trimmed(child->text);
    if (text.empty())
        return std::nullopt;
    return text;
}

const Element* criticalMarker(const Element& item)
{
    if (const Element* marker = item.child(sparkleNamespace, "criticalUpdate"))
        return marker;
    if (const Element* tags = item.child(sparkleNamespace, "tags"))
        return tags->child(sparkleNamespace, "criticalUpdate");
    return nullptr;
}

AppcastItem readItem(const Element& item, std::size_t index)
{
    AppcastItem out;
    const Element* enclosure = item.child("", "enclosure");
    if (auto version = childText(item, sparkleNamespace, "version"))
        out.version = *version;
    else if (const std::string* attribute = enclosure ? enclosure->attribute(sparkleNamespace, "version") : nullptr)
        out.version = trimmed(*attribute);
    if (out.version.empty())
        throw AppcastParseError("Item " + std::to_string(index + 1) + " of the update feed has no version.");

    if (auto shortVersion = childText(item, sparkleNamespace, "shortVersionString"))
        out.shortVersionString = *shortVersion;
    else if (const std::string* attribute
        = enclosure ? enclosure->attribute(sparkleNamespace, "shortVersionString") : nullptr) {
        if (std::string text = trimmed(*attribute); !text.empty())
            out.shortVersionString = text;
    }

    if (const Element* marker = criticalMarker(item)) {
        out.criticalUpdate = true;
        if (const std::string* below = marker->attribute(sparkleNamespace, "version");
            below && !trimmed(*below).empty())
            out.criticalBelowVersion = trimmed(*below);
    }
    out.link = childText(item, "", "link");
    out.channel = childText(item, sparkleNamespace, "channel");
    return out;
}

// A link is only passed on when it is an https page: the interface opens it as it is.
std::optional<std::string> releasePage(const std::optional<std::string>& link)
{
    if (!link)
        return std::nullopt;
    GUri* uri = g_uri_parse(link->c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri)
        return std::nullopt;
    const char* host = g_uri_get_host(uri);
    bool secure = link->starts_with("https:") && host && *host;
    g_uri_unref(uri);
    return secure ? link : std::nullopt;
}

// The parts of a version: runs of digits, runs of other characters; separators only split.
struct VersionPart {
    bool number;
    std::string_view text;
};

std::vector<VersionPart> versionParts(std::string_view version)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isSeparator = [](char c) { return c == '.' || c == '-' || c == '_' || c == '+' || c == ' '; };
    std::vector<VersionPart> parts;
    std::size_t i = 0;
    while (i < version.size()) {
        if (isSeparator(version[i])) {
            ++i;
            continue;
        }
        bool number = isDigit(version[i]);
        std::size_t start = i;
        while (i < version.size() && !isSeparator(version[i]) && isDigit(version[i]) == number)
            ++i;
        parts.push_back({ number, version.substr(start, i - start) });
    }
    return parts;
}

int compareNumbers(std::string_view a, std::string_view b)
{
    // By value without converting, so a long run of digits cannot overflow.
    while (a.size() > 1 && a.front() == '0')
        a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0')
        b.remove_prefix(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

bool isZero(const VersionPart& part)
{
    return part.number && part.text.find_first_not_of('0') == std::string_view::npos;
}

}  // namespace

std::vector<AppcastItem> parseAppcast(std::string_view xml)
{
    std::unique_ptr<Element> root = parseTree(xml);
    // A document of processing instructions or comments alone is well-formed to GLib but has no root.
    if (!root || !root->name.is("", "rss"))
        throw AppcastParseError("The update feed is not an RSS feed.");
    const Element* channel = root->child("", "channel");
    if (!channel)
        throw AppcastParseError("The update feed has no channel.");
    std::vector<AppcastItem> items;
    for (const auto& child : channel->children)
        if (child->name.is("", "item"))
            items.push_back(readItem(*child, items.size()));
    return items;
}

int compareVersions(std::string_view a, std::string_view b)
{
    std::vector<VersionPart> left = versionParts(a);
    std::vector<VersionPart> right = versionParts(b);
    std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const VersionPart& l = left[i];
        const VersionPart& r = right[i];
        if (l.number && r.number) {
            if (int order = compareNumbers(l.text, r.text))
                return order;
        } else if (!l.number && !r.number) {
            if (int order = l.text.compare(r.text))
                return order < 0 ? -1 : 1;
        } else {
            // A number where the other has a word: "1.1" is a release, "1.b" is not.
            return l.number ? 1 : -1;
        }
    }
    // The longer one goes on: with a number it is later ("1.0.1" after "1.0", unless the rest
    // is zeros), with a word it is a pre-release of the shorter ("1.0b1" before "1.0").
    const auto& longer = left.size() > right.size() ? left : right;
    int sign = left.size() > right.size() ? 1 : -1;
    for (std::size_t i = common; i < longer.size(); ++i) {
        if (!longer[i].number)
            return -sign;
        if (!isZero(longer[i]))
            return sign;
    }
    return 0;
}

std::optional<UpdateItem> newestUpdate(const std::vector<AppcastItem>& items, std::string_view installedVersion)
{
    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : items) {
        if (item.channel)
            continue;
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = &item;
    }
    if (!newest || compareVersions(newest->version, installedVersion) <= 0)
        return std::nullopt;

    UpdateItem update;
    update.version = newest->version;
    update.displayVersion = newest->shortVersionString.value_or(newest->version);
    update.critical = newest->criticalUpdate
        && (!newest->criticalBelowVersion || compareVersions(installedVersion, *newest->criticalBelowVersion) < 0);
    update.releasePage = releasePage(newest->link);
    return update;
}

}  // namespace quorvane
