#pragma once

// Everything the core library offers, for code that wants it all.

#include "quorvane/Account.hpp"
#include "quorvane/AppFailure.hpp"
#include "quorvane/Base64.hpp"
#include "quorvane/ConversationContext.hpp"
#include "quorvane/CowVector.hpp"
#include "quorvane/Date.hpp"
#include "quorvane/Digest.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/KeyStore.hpp"
#include "quorvane/Orchestration.hpp"
#include "quorvane/PageRecords.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/RequestRecords.hpp"
#include "quorvane/SecureStore.hpp"
#include "quorvane/Text.hpp"
#include "quorvane/TextRules.hpp"
#include "quorvane/Vault.hpp"
#include "quorvane/VaultRecords.hpp"
#include "quorvane/VaultStorage.hpp"
