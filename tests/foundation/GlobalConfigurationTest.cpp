#include "foundation/GlobalConfiguration.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using json = nlohmann::json;

namespace {

// Runs `call` and returns the id of the json type_error it throws, checking its text.
template <typename Call>
void expectTypeError(Call call, int id, const std::string &text) {
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const json::type_error &e) {
        EXPECT_EQ(e.id, id);
        EXPECT_EQ(std::string(e.what()),
                  "[json.exception.type_error." + std::to_string(id) + "] " + text);
    }
}

} // namespace

TEST(GlobalConfigurationTest, DefaultDocument) {
    GlobalConfiguration &config = GlobalConfiguration::instance();
    EXPECT_EQ(&config, &GlobalConfiguration::instance());
    EXPECT_TRUE(config.isFeatureEnabled("use_new_filesystem"));
    EXPECT_FALSE(config.isFeatureEnabled("no_such_feature"));
    EXPECT_EQ(config.getFeature("use_radix"), json::parse("[1, 2, 3]"));
    EXPECT_EQ(config.getFeature("use_new_filesystem"), json(true));
    expectTypeError([&] { config.isFeatureEnabled("use_radix"); }, 302,
                    "type must be boolean, but is array");
    expectThrowsMessage([&] { config.getFeature("no_such_feature"); },
                        "[GlobalConfiguration] No feature named 'no_such_feature'.");
    EXPECT_EQ(GlobalConfiguration::getCurrentFeature(), 0);

    config.setFeature("use_radix", true);
    EXPECT_TRUE(config.isFeatureEnabled("use_radix"));
    config.setFeature("use_radix", json::parse("[1, 2, 3]"));
    EXPECT_EQ(config.getFeature("use_radix"), json::parse("[1, 2, 3]"));
}

TEST(GlobalConfigurationTest, TakesTheDocument) {
    json document = {{"features", {{"a", false}}}};
    GlobalConfiguration config(std::move(document));
    EXPECT_TRUE(document.is_null());
    EXPECT_FALSE(config.isFeatureEnabled("a"));
    config.setFeature("a", true);
    config.setFeature("b", json("text"));
    EXPECT_TRUE(config.isFeatureEnabled("a"));
    EXPECT_EQ(config.getFeature("b"), json("text"));
    expectTypeError([&] { config.isFeatureEnabled("b"); }, 302,
                    "type must be boolean, but is string");
}

TEST(GlobalConfigurationTest, DocumentsOfOtherShapes) {
    struct Case {
        const char *document;
        const char *enabled_error; // type of the 305 error of isFeatureEnabled, or null
        const char *get_error;     // type of the 305 error of getFeature, or null (missing)
    };
    const Case cases[] = {
        {"[1, 2]", "array", "array"},
        {"null", "null", "null"},
        {"3", "number", "number"},
        {"{}", nullptr, nullptr},
        {R"({"features": 5})", nullptr, "number"},
        {R"({"features": [true]})", nullptr, "array"},
        {R"({"features": {}})", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.document);
        GlobalConfiguration config(json::parse(c.document));
        const std::string prefix = "cannot use operator[] with a string argument with ";
        if (c.enabled_error)
            expectTypeError([&] { config.isFeatureEnabled("x"); }, 305, prefix + c.enabled_error);
        else
            EXPECT_FALSE(config.isFeatureEnabled("x"));
        if (c.get_error)
            expectTypeError([&] { config.getFeature("x"); }, 305, prefix + c.get_error);
        else
            expectThrowsMessage([&] { config.getFeature("x"); },
                                "[GlobalConfiguration] No feature named 'x'.");
    }

    // Setting a switch creates the feature object where it is missing.
    for (const char *document : {"null", "{}"}) {
        GlobalConfiguration config(json::parse(document));
        config.setFeature("x", true);
        EXPECT_TRUE(config.isFeatureEnabled("x"));
    }
}

TEST(GlobalConfigurationTest, NullNamesAreRefused) {
    GlobalConfiguration config(json::parse(R"({"features": {}})"));
    const char *null_name = nullptr;
    const std::string null_string = "basic_string: construction from null is not valid";
    expectThrowsMessage<std::logic_error>([&] { config.isFeatureEnabled(null_name); }, null_string);
    expectThrowsMessage<std::logic_error>([&] { config.getFeature(null_name); }, null_string);
    expectThrowsMessage<std::logic_error>([&] { config.setFeature(null_name, true); }, null_string);
    expectThrowsMessage<std::logic_error>([&] { config.setFeature(null_name, json(1)); },
                                          null_string);
}
