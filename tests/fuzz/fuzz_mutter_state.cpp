// Arbitrary GetCurrentState replies, as the serialized bytes of a GVariant of
// the reply's type, through the checks and into the call that OK sends for
// each mode of each monitor that shows a picture.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <gio/gio.h>

#include "mutter_state.h"

using namespace mutter_state;

namespace {

void Check(bool ok)
{
    if (!ok) std::abort();
}

// Modes tried per monitor: enough to reach every refusal, few enough to stay fast.
constexpr size_t kModesTried = 8;

// The mode that config gives connector; empty where it gives none.
std::string SentMode(GVariant* config, const std::string& connector)
{
    const Variant logical(g_variant_get_child_value(config, 2));
    std::string found;
    for (size_t i = 0; i < g_variant_n_children(logical.get()); ++i) {
        const Variant lm(g_variant_get_child_value(logical.get(), i));
        const Variant monitors(g_variant_get_child_value(lm.get(), 5));
        for (size_t j = 0; j < g_variant_n_children(monitors.get()); ++j) {
            const char *c = nullptr, *mode = nullptr;
            g_variant_get_child(monitors.get(), j, "(&s&s@a{sv})", &c, &mode, nullptr);
            if (connector == c) found = mode;
        }
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GBytes* bytes = g_bytes_new(data, size);
    const Variant reply(
        g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(kStateType), bytes, FALSE)));
    g_bytes_unref(bytes);
    std::string error;
    const std::optional<State> st = ParseState(reply.get(), &error);
    Check(st.has_value() == error.empty());
    if (!st) return 0;
    Check(st->logical.empty() || PrimaryOf(*st) != nullptr);
    for (const LogicalMonitor& lm : st->logical) {
        for (const std::string& connector : lm.connectors) {
            const Monitor* m = st->FindMonitor(connector);
            Check(m != nullptr);
            for (size_t k = 0; k < m->modes.size() && k < kModesTried; ++k) {
                const Config config =
                    BuildConfig(*st, connector, m->modes[k].id, kMethodTemporary);
                if (!config.params) {
                    Check(config.refusal != dsp::kDispChangeSuccessful && !config.why.empty());
                    continue;
                }
                Check(g_variant_is_of_type(config.params.get(),
                                           G_VARIANT_TYPE("(uua(iiduba(ssa{sv}))a{sv})")));
                const Variant logical(g_variant_get_child_value(config.params.get(), 2));
                Check(g_variant_n_children(logical.get()) == st->logical.size());
                Check(SentMode(config.params.get(), connector) == m->modes[k].id);
            }
        }
    }
    return 0;
}
