#include <gtest/gtest.h>

#include <sstream>

#include "platform/fake/fake_platform.h"
#include "remover/sweepra.h"

namespace {

TEST(Sweepra, RemovesOnlyTheSection)
{
    FakeStoreData data;
    data.set("StdDist", "10");
    data.set("Unknown", "x");
    data.values["Pavro/Other"]["Keep"] = "1";
    data.values["Other/Settings"]["Keep"] = "2";
    CallLog log;
    FakeSettingsStore store(data, log);
    std::ostringstream errors;

    EXPECT_EQ(deleteStoredSettings(store, &errors), StoreStatus::Ok);
    EXPECT_EQ(log.all(), std::vector<std::string>{"DeleteSetting Pavro/Settings"});
    EXPECT_EQ(data.values.count("Pavro/Settings"), 0u);
    EXPECT_EQ(data.values["Pavro/Other"]["Keep"], "1");
    EXPECT_EQ(data.values["Other/Settings"]["Keep"], "2");

    // Nothing left to delete: quiet.
    EXPECT_EQ(deleteStoredSettings(store, &errors), StoreStatus::Missing);
    EXPECT_EQ(errors.str(), "");
}

TEST(Sweepra, ARefusingStoreIsReportedNotFatal)
{
    FakeStoreData data;
    data.set("StdDist", "10");
    data.failRemove = true;
    CallLog log;
    FakeSettingsStore store(data, log);
    std::ostringstream errors;
    EXPECT_EQ(deleteStoredSettings(store, &errors), StoreStatus::Failed);
    EXPECT_NE(errors.str().find("could not be deleted"), std::string::npos);
    EXPECT_EQ(data.value("StdDist"), "10");
    EXPECT_EQ(deleteStoredSettings(store, nullptr), StoreStatus::Failed);
}

} // namespace
