#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "config/cvar.h"
#include "config_fixture.h"

namespace {

using CvarTest = ConfigTest;

TEST_F(CvarTest, PendingValueIsTakenAtRegistrationAndThenForgotten)
{
    enable_spam_log();
    ASSERT_TRUE(cvar_set("x", "1"));
    ASSERT_TRUE(cvar_set("x", "5"));  // replaces the earlier pending text
    std::vector<logged_line> log = take_log();
    EXPECT_EQ(count_lines(log, log_level_spam, "Marked unregistered cvar 'x' (value '5') as pending."), 1);

    int32_t x = -1;
    ASSERT_TRUE(cvar_register_int("x", "an int", &x, 0));
    EXPECT_EQ(x, 5);
    log = take_log();
    EXPECT_EQ(count_lines(log, log_level_spam, "Registered cvar \"x\" (\"an int\") [pending value: \"5\"]"), 1);

    // The pending entry was consumed: a second registration uses its default.
    int32_t shadow = -1;
    ASSERT_TRUE(cvar_register_int("x", "again", &shadow, 7));
    EXPECT_EQ(shadow, 7);
    EXPECT_EQ(x, 5);
    log = take_log();
    EXPECT_EQ(count_lines(log, log_level_spam, "Registered cvar \"x\" (\"again\") [default value: \"7\"]"), 1);

    // The newest registration shadows the older one for lookups and sets.
    EXPECT_EQ(cvar_get_int("x"), &shadow);
    ASSERT_TRUE(cvar_set("x", "9"));
    EXPECT_EQ(shadow, 9);
    EXPECT_EQ(x, 5);
}

TEST_F(CvarTest, FailedRegistrationLeavesPendingValueInPlace)
{
    int32_t value = 0;
    ASSERT_TRUE(cvar_set("y", "3"));
    EXPECT_FALSE(cvar_register("y", 0, "bad type", &value, "0"));
    EXPECT_FALSE(cvar_register("y", 6, "bad type", &value, "0"));
    EXPECT_FALSE(cvar_register("y", cvar_type_int, "no default", &value, nullptr));
    EXPECT_FALSE(cvar_register(nullptr, cvar_type_int, "no name", &value, "0"));
    EXPECT_EQ(cvar_get("y", nullptr, nullptr), nullptr);

    ASSERT_TRUE(cvar_register_int("y", "now", &value, 0));
    EXPECT_EQ(value, 3);
}

TEST_F(CvarTest, BoolParsing)
{
    int32_t flag = 0;
    ASSERT_TRUE(cvar_register_bool("flag", "a bool", &flag, 0));
    const std::vector<std::pair<const char *, int32_t>> cases = {
        {"TRUE", 1}, {"True", 1}, {"true", 1}, {"1", 1}, {"2", 1}, {"-1", 1}, {"yes", 0},
        {"0", 0},    {"", 0},     {"false", 0}, {"truely", 0}, {" 1", 1},
    };
    for (const auto &[text, expected] : cases) {
        flag = 7;  // proves every set writes 0 or 1
        ASSERT_TRUE(cvar_set("flag", text)) << text;
        EXPECT_EQ(flag, expected) << "text '" << text << "'";
    }
}

TEST_F(CvarTest, NumberParsing)
{
    int32_t i = 0;
    uint32_t u = 0;
    float f = 0;
    ASSERT_TRUE(cvar_register_int("i", "int", &i, -3));
    ASSERT_TRUE(cvar_register_uint("u", "uint", &u, 4000000000u));
    ASSERT_TRUE(cvar_register_float("f", "float", &f, 0.25f));
    EXPECT_EQ(i, -3);
    EXPECT_EQ(u, 4000000000u);
    EXPECT_FLOAT_EQ(f, 0.25f);

    const std::vector<std::tuple<const char *, int32_t>> ints = {
        {"42", 42}, {"-7", -7}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"0x10", 0},
        // Out-of-range text saturates instead of wrapping.
        {"3000000000", INT32_MAX}, {"-3000000000", INT32_MIN},
    };
    for (const auto &[text, expected] : ints) {
        ASSERT_TRUE(cvar_set("i", text));
        EXPECT_EQ(i, expected) << text;
    }
    const std::vector<std::tuple<const char *, uint32_t>> uints = {
        {"17", 17u}, {"x", 0u}, {"4294967295", 4294967295u}, {"5000000000", UINT32_MAX},
    };
    for (const auto &[text, expected] : uints) {
        ASSERT_TRUE(cvar_set("u", text));
        EXPECT_EQ(u, expected) << text;
    }
    const std::vector<std::tuple<const char *, float>> floats = {
        {"2.5", 2.5f}, {"-1e3", -1000.0f}, {"nope", 0.0f}, {"3", 3.0f},
    };
    for (const auto &[text, expected] : floats) {
        ASSERT_TRUE(cvar_set("f", text));
        EXPECT_FLOAT_EQ(f, expected) << text;
    }
}

TEST_F(CvarTest, TypedGettersMatchOnlyTheirType)
{
    static char *s = nullptr;  // string variables must outlive the registry
    int32_t i = 0;
    uint32_t u = 0;
    float f = 0;
    int32_t b = 0;
    ASSERT_TRUE(cvar_register_string("s", "string", &s, "hello"));
    ASSERT_TRUE(cvar_register_int("i", "int", &i, 1));
    ASSERT_TRUE(cvar_register_uint("u", "uint", &u, 2));
    ASSERT_TRUE(cvar_register_float("f", "float", &f, 3));
    ASSERT_TRUE(cvar_register_bool("b", "bool", &b, 1));

    EXPECT_EQ(cvar_get_string("s"), &s);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(cvar_get_int("i"), &i);
    EXPECT_EQ(cvar_get_uint("u"), &u);
    EXPECT_EQ(cvar_get_float("f"), &f);
    EXPECT_EQ(cvar_get_bool("b"), &b);

    EXPECT_EQ(cvar_get_int("s"), nullptr);
    EXPECT_EQ(cvar_get_string("i"), nullptr);
    EXPECT_EQ(cvar_get_int("b"), nullptr);  // same C type, different cvar type
    EXPECT_EQ(cvar_get_bool("i"), nullptr);
    EXPECT_EQ(cvar_get_uint("f"), nullptr);
    EXPECT_EQ(cvar_get_float("missing"), nullptr);

    int type = -1;
    const char *description = nullptr;
    EXPECT_EQ(cvar_get("u", &type, &description), &u);
    EXPECT_EQ(type, cvar_type_uint);
    EXPECT_STREQ(description, "uint");
    description = "stale";
    EXPECT_EQ(cvar_get("missing", &type, &description), nullptr);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(description, nullptr);

    EXPECT_STREQ(cvar_type_name(cvar_type_string), "string");
    EXPECT_STREQ(cvar_type_name(cvar_type_bool), "bool");
    EXPECT_EQ(cvar_type_name(0), nullptr);
}

TEST_F(CvarTest, CvarWithoutVariableKeepsItsValueInTheRecord)
{
    ASSERT_TRUE(cvar_register("own.string", cvar_type_string, "own", nullptr, "first"));
    ASSERT_TRUE(cvar_register("own.float", cvar_type_float, "own", nullptr, "1.5"));
    char **text = cvar_get_string("own.string");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(*text, "first");
    ASSERT_TRUE(cvar_set("own.string", "second"));
    EXPECT_STREQ(*cvar_get_string("own.string"), "second");
    EXPECT_FLOAT_EQ(*cvar_get_float("own.float"), 1.5f);
}

TEST_F(CvarTest, LockedCvarRefusesAndLogs)
{
    int32_t value = 0;
    ASSERT_TRUE(cvar_register_int("locked", "", &value, 1));
    EXPECT_FALSE(cvar_islocked("locked"));
    ASSERT_TRUE(cvar_lock("locked"));
    EXPECT_TRUE(cvar_islocked("locked"));
    take_log();

    EXPECT_FALSE(cvar_set("locked", "9"));
    EXPECT_EQ(value, 1);
    std::vector<logged_line> log = take_log();
    ASSERT_EQ(messages_at(log, log_level_error), std::vector<std::string>{"Refusing to set locked cvar 'locked' to '9'"});
    EXPECT_EQ(log[0].subsystem, "Engine");

    ASSERT_TRUE(cvar_unlock("locked"));
    EXPECT_TRUE(cvar_set("locked", "9"));
    EXPECT_EQ(value, 9);

    EXPECT_FALSE(cvar_lock("unknown"));
    EXPECT_FALSE(cvar_unlock("unknown"));
    EXPECT_FALSE(cvar_islocked("unknown"));
    EXPECT_FALSE(cvar_set(nullptr, "1"));
    EXPECT_FALSE(cvar_set("locked", nullptr));
}

TEST_F(CvarTest, StringVariableIsFreedAndClearedByQuit)
{
    static const char initial[] = "not the registry's";
    static char *name = nullptr;
    name = const_cast<char *>(initial);  // must not be freed by registration
    ASSERT_TRUE(cvar_register_string("name", "a string", &name, "default"));
    EXPECT_STREQ(name, "default");
    ASSERT_TRUE(cvar_set("name", "one"));
    ASSERT_TRUE(cvar_set("name", "two"));  // the sanitizer build catches a leaked "one"
    EXPECT_STREQ(name, "two");

    // A second registration on the same variable frees the text it replaces.
    ASSERT_TRUE(cvar_register_string("name", "shadow", &name, "three"));
    EXPECT_STREQ(name, "three");

    cvar_quit();
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(cvar_get("name", nullptr, nullptr), nullptr);
}

TEST_F(CvarTest, QuitDropsPendingValuesAndCallback)
{
    ASSERT_TRUE(cvar_set("later", "5"));
    int calls = 0;
    cvar_set_register_callback([](void *context, const char *, const char *, int) { ++*static_cast<int *>(context); },
                               &calls);
    cvar_quit();

    int32_t later = 0;
    ASSERT_TRUE(cvar_register_int("later", "", &later, 1));
    EXPECT_EQ(later, 1);
    EXPECT_EQ(calls, 0);
}

struct callback_call {
    std::string name;
    std::string description;
    int type;
    bool operator==(const callback_call &) const = default;
};

void record_callback(void *context, const char *name, const char *description, int type)
{
    static_cast<std::vector<callback_call> *>(context)->push_back({name, description, type});
}

TEST_F(CvarTest, CallbackReplaysExistingCvarsNewestFirstThenFollowsRegistrations)
{
    int32_t a = 0;
    static char *b = nullptr;
    float c = 0;
    ASSERT_TRUE(cvar_register_int("a", "first", &a, 0));
    ASSERT_TRUE(cvar_register_string("b", "second", &b, ""));
    ASSERT_TRUE(cvar_register_float("c", "third", &c, 0));

    std::vector<callback_call> calls;
    cvar_set_register_callback(record_callback, &calls);
    EXPECT_EQ(calls, (std::vector<callback_call>{{"c", "third", cvar_type_float},
                                                 {"b", "second", cvar_type_string},
                                                 {"a", "first", cvar_type_int}}));

    calls.clear();
    uint32_t d = 0;
    ASSERT_TRUE(cvar_register_uint("d", "fourth", &d, 0));
    int32_t e = 0;
    EXPECT_FALSE(cvar_register("e", 9, "bad", &e, "0"));  // failures are not announced
    EXPECT_EQ(calls, (std::vector<callback_call>{{"d", "fourth", cvar_type_uint}}));

    calls.clear();
    cvar_set_register_callback(nullptr, &calls);
    ASSERT_TRUE(cvar_register_bool("f", "", &e, 0));
    EXPECT_TRUE(calls.empty());
}

}  // namespace
