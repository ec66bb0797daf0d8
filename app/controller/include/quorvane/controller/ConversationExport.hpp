#pragma once

// The files "export" hands to the user: one bot's conversation, or every conversation of an
// account, as Markdown to read or as JSON to keep.
//
// Markdown is for people: the account's label as the title, a heading per bot, and each message
// with its local date, its author (the user as "You", otherwise the bot that wrote it, which for
// a handoff copy or a handoff request is another bot than the one whose conversation holds it),
// the reply's parts in order, the quote it answers, and the notes that change how it reads
// (handoff copy, handoff request, failed, stopped). Message text goes in as written: replies are
// Markdown-like already, and rewriting them would change what the user reads.
//
// JSON is for tools: {"bots": [...], "messages": [...]} with the records exactly as the vault
// encodes them (same keys, same number form, dates as seconds since 2001-01-01 UTC), indented so
// that it can be read. A bot's export holds that bot and its messages; an account's holds every
// bot, archived ones included, and every message, in stored order.
//
// Nothing here reads a clock or the time zone on its own: the caller passes the date to name the
// file after and the function that writes a date in local time (localDateText by default).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "quorvane/Account.hpp"
#include "quorvane/controller/FileSaver.hpp"

namespace quorvane {

enum class ExportFormat { markdown, json };

// "2026-12-10 14:03" in the process's local time zone (TZ, else /etc/localtime).
std::string localDateText(Date date);

using DateWriter = std::function<std::string(Date)>;

// The Markdown of `botID`'s conversation, or of every conversation when absent. An unknown bot
// gives the account's title and nothing else.
std::string exportMarkdown(const Account& account, const std::optional<Text>& botID, Date exported,
    const DateWriter& writeDate = localDateText);

// The records of `botID` and its messages, or of the whole account when absent.
std::string exportJSON(const Account& account, const std::optional<Text>& botID);

// Indents compact JSON text (two spaces, one member or element a line); strings are copied as
// they are. `compact` must be valid JSON.
std::string indentedJSON(std::string_view compact);

// The whole offer: the file's bytes, its type, the dialog's title, a file name made of the bot's
// name (or the account's label) and the local day of `exported`, and the sentence that the file
// is not encrypted.
FileOffer exportOffer(const Account& account, const std::optional<Text>& botID, ExportFormat format, Date exported,
    const DateWriter& writeDate = localDateText);

// A name the user's file system takes: no folder separators or control characters, no leading
// dot, at most 80 characters before the extension; empty becomes "Quorvane".
std::string fileNameStem(std::string_view name);

}  // namespace quorvane
