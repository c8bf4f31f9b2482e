#pragma once

#include <nlohmann/json.hpp>

namespace Quelt {

// Process-wide store of named feature switches: one JSON document holding the
// library's version numbers and an object "features" of switches. Not
// synchronised: writers must not run alongside other users.
class GlobalConfiguration {
public:
    using json = nlohmann::json;

    // Takes the document; the source is left null.
    explicit GlobalConfiguration(json &&config);

    // The single instance, built on first call from the default document
    // (version 0.3.0, features "use_radix": [1, 2, 3] and
    // "use_new_filesystem": true).
    static GlobalConfiguration &instance();

    // The value stored under `name` in "features".
    // Throws json type_error 305 when the document or "features" is not an
    // object, RuntimeException "[GlobalConfiguration] No feature named '<name>'."
    // when there is no such value, and std::logic_error for a null name.
    const json &getFeature(const char *name) const;

    // Whether the switch `name` is on: false when "features" is missing or not
    // an object, or holds no `name`. Throws json type_error 305 when the document
    // is not an object and type_error 302 when the value is not a boolean.
    bool isFeatureEnabled(const char *name) const;

    // Sets "features"[name], creating "features" and the key when absent and
    // replacing any former value.
    void setFeature(const char *name, bool value);
    void setFeature(const char *name, const json &value);

    // Processor-feature code of the running build: 0 (no accelerated paths).
    static int getCurrentFeature();

private:
    json config_;
};

} // namespace Quelt
