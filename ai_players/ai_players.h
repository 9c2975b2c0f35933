// Everything a host needs, in one include: the board and its moves, the
// personas and the reply policy, engine configuration, scores, errors and
// the output sinks.
#pragma once

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/score.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/search_control.h"
#include "ai_players/engine/uci_tokens.h"
#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/rosters.h"
#include "ai_players/personas/safe_reply.h"
#include "ai_players/personas/strong_gang.h"
#include "ai_players/personas/verevovera.h"
