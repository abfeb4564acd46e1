// The description of the main panel: one identifier and one name per control, and the log
// path's start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "panel/ostrel_panel.h"

namespace ostrel {
namespace {

const ui::ControlDescription &find(const ui::PanelDescription &panel, int id) {
    for (const ui::ControlDescription &c : panel.controls) {
        if (c.id == id) return c;
    }
    throw std::runtime_error("no control " + std::to_string(id));
}

TEST(MainPanel, EveryControlHasItsOwnIdentifierAndName) {
    const ui::PanelDescription panel = mainPanelDescription();
    std::set<int> ids;
    std::set<std::string> names;
    for (const ui::ControlDescription &c : panel.controls) {
        ids.insert(c.id);
        names.insert(c.constantName);
    }
    EXPECT_EQ(ids.size(), panel.controls.size());
    EXPECT_EQ(names.size(), panel.controls.size());
}

TEST(MainPanel, LogPathStartsAtTheHomeDirectory) {
    const char *const saved = std::getenv("HOME");
    const std::string home = saved != nullptr ? saved : "";
    setenv("HOME", "/tmp/ostrel-home-of-test", 1);
    EXPECT_EQ(find(mainPanelDescription(), LOGPATH).value,
              ui::Value(std::string("/tmp/ostrel-home-of-test")));
    unsetenv("HOME");
    EXPECT_FALSE(std::get<std::string>(find(mainPanelDescription(), LOGPATH).value).empty())
        << "without HOME: the account's home directory";
    if (saved != nullptr) setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace ostrel
