#include "foundation/GlobalConfiguration.hpp"

#include "Quelt/Exception.hpp"

#include <string>
#include <utility>

namespace Quelt {

namespace {

const char *const FEATURE_LIST_KEY = "features";

// Built on first use rather than at load time, so that no static initialiser
// of another unit can see it unconstructed.
const nlohmann::json &defaultJsonConfig() {
    static const nlohmann::json DEFAULT_JSON_CONFIG = {
        {"major_version", 0},
        {"minor_version", 3},
        {"patch_version", 0},
        {FEATURE_LIST_KEY, {{"use_radix", {1, 2, 3}}, {"use_new_filesystem", true}}},
    };
    return DEFAULT_JSON_CONFIG;
}

// The document type's own error for a string subscript of a non-object.
void requireObject(const nlohmann::json &value) {
    if (!value.is_object())
        throw nlohmann::json::type_error::create(
            305,
            std::string("cannot use operator[] with a string argument with ") + value.type_name(),
            &value);
}

} // namespace

GlobalConfiguration::GlobalConfiguration(json &&config) : config_(std::move(config)) {}

GlobalConfiguration &GlobalConfiguration::instance() {
    static GlobalConfiguration configuration{json(defaultJsonConfig())};
    return configuration;
}

const nlohmann::json &GlobalConfiguration::getFeature(const char *name) const {
    const std::string key(name);
    requireObject(config_);
    const auto features = config_.find(FEATURE_LIST_KEY);
    if (features != config_.end()) {
        requireObject(*features);
        const auto found = features->find(key);
        if (found != features->end())
            return *found;
    }
    throw RuntimeException("[GlobalConfiguration] No feature named '" + key + "'.");
}

bool GlobalConfiguration::isFeatureEnabled(const char *name) const {
    const std::string key(name);
    requireObject(config_);
    const auto features = config_.find(FEATURE_LIST_KEY);
    if (features == config_.end() || !features->is_object())
        return false;
    const auto found = features->find(key);
    if (found == features->end())
        return false;
    return found->get<bool>();
}

void GlobalConfiguration::setFeature(const char *name, bool value) {
    setFeature(name, json(value));
}

void GlobalConfiguration::setFeature(const char *name, const json &value) {
    const std::string key(name);
    config_[FEATURE_LIST_KEY][key] = value;
}

int GlobalConfiguration::getCurrentFeature() { return 0; }

} // namespace Quelt
