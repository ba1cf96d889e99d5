// Shared set-up of the config tests: a live log whose entries the tests read
// back, and a registry emptied after every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/cvar.h"
#include "log/log.h"

struct logged_line {
    int32_t level;
    std::string subsystem;
    std::string message;
};

inline std::vector<logged_line> take_log()
{
    std::vector<logged_line> lines;
    log_entry *entries = log_get_entries();
    for (const log_entry *entry = entries; entry; entry = entry->next) {
        lines.push_back({entry->level, entry->subsystem, entry->message});
    }
    log_free_entries(entries);
    return lines;
}

inline int count_lines(const std::vector<logged_line> &lines, int32_t level, const std::string &message)
{
    int count = 0;
    for (const logged_line &line : lines) {
        if (line.level == level && line.message == message) {
            count++;
        }
    }
    return count;
}

inline std::vector<std::string> messages_at(const std::vector<logged_line> &lines, int32_t level)
{
    std::vector<std::string> result;
    for (const logged_line &line : lines) {
        if (line.level == level) {
            result.push_back(line.message);
        }
    }
    return result;
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log_init());
        take_log();  // the banner
    }
    void TearDown() override
    {
        cvar_quit();
        // log_quit prints its last line on stdout unless log.stdout says no.
        cvar_set("log.stdout", "false");
        log_ready();
        take_log();
        log_quit();
        cvar_quit();
    }
    // Spam lines are dropped before formatting under the default threshold;
    // making the log ready with log.level spam lets a test see them.
    static void enable_spam_log()
    {
        cvar_set("log.level", "spam");
        cvar_set("log.stdout", "false");
        ASSERT_TRUE(log_ready());
        take_log();
    }
};
