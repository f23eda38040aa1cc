#include "wlr_kanshi_config.h"

KanshiStoreResult KanshiStoreMode(const std::vector<KanshiOutput>&, const KanshiOutput&, int32_t,
                                  int32_t, int32_t, std::string*)
{
    return KanshiStoreResult::NotRunning;
}
