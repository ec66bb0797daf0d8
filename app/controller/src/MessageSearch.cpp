#include "quorvane/controller/MessageSearch.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace quorvane {

namespace {

constexpr std::size_t kSnippetBefore = 40;  // bytes of context before the match, about
constexpr std::size_t kSnippetAfter = 100;  // and after its start

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::vector<std::string> wordsOf(std::string_view form)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < form.size()) {
        while (i < form.size() && isSpace(form[i]))
            ++i;
        std::size_t end = i;
        while (end < form.size() && !isSpace(form[end]))
            ++end;
        if (end > i)
            words.emplace_back(form.substr(i, end - i));
        i = end;
    }
    return words;
}

// Moves a byte offset back to the start of the UTF-8 character it falls in.
std::size_t characterStart(std::string_view text, std::size_t at)
{
    while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

// The visible text around the first white-space-separated word of `text` whose search form holds
// `word`: a search word holds no white space, and reducing text never adds or removes any, so a
// match always lies inside one such word of the original.
std::optional<std::string> snippetAround(std::string_view text, const std::string& word)
{
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        std::size_t end = i;
        while (end < text.size() && !isSpace(text[end]))
            ++end;
        if (end > i && searchForm(text.substr(i, end - i)).find(word) != std::string::npos) {
            std::size_t from = characterStart(text, i > kSnippetBefore ? i - kSnippetBefore : 0);
            std::size_t to = characterStart(text, std::min(text.size(), i + kSnippetAfter));
            std::string snippet;
            if (from > 0)
                snippet += "…";
            for (char c : text.substr(from, to - from))
                snippet.push_back(isSpace(c) ? ' ' : c);
            if (to < text.size())
                snippet += "…";
            return snippet;
        }
        i = end;
    }
    return std::nullopt;
}

}  // namespace

std::string searchForm(std::string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    static const icu::Normalizer2* decomposition = icu::Normalizer2::getNFDInstance(status);
    if (!decomposition)
        return std::string(text);
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    status = U_ZERO_ERROR;
    icu::UnicodeString decomposed = decomposition->normalize(source, status);
    if (U_FAILURE(status))
        decomposed = source;
    icu::UnicodeString bare;
    bare.getBuffer(decomposed.length());
    bare.releaseBuffer(0);
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK)
            bare.append(c);
        i += U16_LENGTH(c);
    }
    bare.foldCase();
    std::string out;
    bare.toUTF8String(out);
    return out;
}

bool hasSearchWords(std::string_view query) { return !wordsOf(searchForm(query)).empty(); }

const std::string& MessageSearch::formOf(const Text& text)
{
    auto [entry, added] = forms_.try_emplace(text.data());
    if (added) {
        entry->second.text = text;
        entry->second.form = searchForm(text.view());
    }
    return entry->second.form;
}

SearchResults MessageSearch::find(
    const Account& account, std::string_view query, const std::optional<Text>& botID, std::size_t limit)
{
    SearchResults results;
    results.query = Text(query);
    results.botID = botID;
    const std::vector<std::string> words = wordsOf(searchForm(query));

    auto matches = [&](const ChatMessage& message) {
        std::vector<const std::string*> forms { &formOf(message.text) };
        if (message.parts)
            for (const ReplyPart& part : message.parts->elements())
                forms.push_back(&formOf(part.text));
        return std::all_of(words.begin(), words.end(), [&](const std::string& word) {
            return std::any_of(forms.begin(), forms.end(),
                [&](const std::string* form) { return form->find(word) != std::string::npos; });
        });
    };
    const auto& messages = account.messages.elements();
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (botID && message->botID != *botID)
            continue;
        if (words.empty() || !matches(*message))
            continue;
        if (results.hits.size() == limit) {
            results.more = true;
            break;
        }
        SearchHit hit { message->id, message->botID, message->date, {} };
        std::optional<std::string> snippet = snippetAround(message->text.view(), words.front());
        if (!snippet && message->parts)
            for (const ReplyPart& part : message->parts->elements())
                if ((snippet = snippetAround(part.text.view(), words.front())))
                    break;
        hit.snippet = Text(snippet.value_or(std::string()));
        results.hits.push_back(std::move(hit));
    }

    forgetLeftTexts(account);
    return results;
}

void MessageSearch::forgetLeftTexts(const Account& account)
{
    std::size_t texts = 0;
    for (const ChatMessage& message : account.messages.elements())
        texts += 1 + (message.parts ? message.parts->size() : 0);
    // Edits and streamed replies leave old forms behind; once they are a third of what is kept,
    // the ones whose text is no longer in the account go.
    if (forms_.size() <= texts + texts / 2 + 64)
        return;
    for (auto& [key, entry] : forms_)
        entry.seen = false;
    auto mark = [&](const Text& text) {
        if (auto found = forms_.find(text.data()); found != forms_.end())
            found->second.seen = true;
    };
    for (const ChatMessage& message : account.messages.elements()) {
        mark(message.text);
        if (message.parts)
            for (const ReplyPart& part : message.parts->elements())
                mark(part.text);
    }
    std::erase_if(forms_, [](const auto& item) { return !item.second.seen; });
}

}  // namespace quorvane
