#include "cli/identify.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/inputs.h"
#include "lib/members.h"
#include "lib/identify.h"
#include "lib/job.h"

namespace mwconv {

using nlohmann::ordered_json;

int identify_files(const Plugin &plugin, const Options &options) {
    if (!plugin.can_identify()) {
        std::fprintf(stderr, "mwconv: the plug-in offers no identification\n");
        return kFailed;
    }
    int worst = kOk;
    for (const InputFile &input : expand_inputs(options.inputs)) {
        Described d;
        std::string error;
        if (input.path == "-" || !describe(plugin, input.path, d, error)) {
            std::fprintf(stderr, "mwconv: %s: cannot read: %s\n", input.path.c_str(),
                         input.path == "-" ? "identification needs a file" : error.c_str());
            worst = kFailed;
            continue;
        }
        if (d.id.generation == MACWRITE_NONE) {
            if (const ContainerInput container = open_container(options, input.path, input.companion)) {
                worst = worse(static_cast<Status>(worst),
                              static_cast<Status>(identify_members(plugin, options, input.path, container,
                                                                   [](const std::string &line) { std::printf("%s\n", line.c_str()); })));
                continue;
            }
        }
        if (d.id.generation == MACWRITE_NONE && !input.found) worst = worse(static_cast<Status>(worst), kNotADocument);
        if (d.id.damaged != 0) worst = worse(static_cast<Status>(worst), kDamaged);
        const std::string line = options.json
            ? to_json(input.path, d).dump(-1, ' ', false, ordered_json::error_handler_t::replace)
            : to_text(input.path, d);
        std::printf("%s\n", line.c_str());
    }
    return worst;
}

}  // namespace mwconv
