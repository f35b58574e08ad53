// Files written or accepted by earlier versions (whose store was QSettings) read the same, and
// what the store writes reads the same to QSettings.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/qt/qt_settings_store.h"

namespace {

constexpr const char* kKeys[] = {"StdDist", "FastDist", "TimeFast", "Refresh", "LoadStart", "ScanCode", "version", "OnOff"};

std::string shown(const StoredText& value)
{
    if (value.status != StoreStatus::Ok)
        return value.status == StoreStatus::Missing ? "Missing" : "Failed|";
    std::string text = "Ok|";
    for (const unsigned char c : value.text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        text += c < 0x20 || c >= 0x7F || c == '\\' || c == '|' ? escaped : std::string(1, static_cast<char>(c));
    }
    return text;
}

class SettingsFileCompat : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        ASSERT_TRUE(QDir().mkpath(m_config.path() + QStringLiteral("/Pavro")));
    }
    QString file() const { return m_config.path() + QStringLiteral("/Pavro/Pavro.conf"); }
    void use(const QString& source)
    {
        QFile::remove(file());
        ASSERT_TRUE(QFile::copy(source, file())) << source.toStdString();
    }

    QTemporaryDir m_config;
};

TEST_F(SettingsFileCompat, ReadsEveryFileAsTheEarlierStoreDid)
{
    std::map<std::string, std::map<std::string, std::string>> expected;  // file -> key -> "Ok|text"
    std::ifstream table(PAVRO_STORE_FILES "/read_by_earlier_versions.txt");
    ASSERT_TRUE(table.good());
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '*')
            line.erase(0, 1);
        const std::size_t first = line.find('|');
        const std::size_t second = line.find('|', first + 1);
        expected[line.substr(0, first)][line.substr(first + 1, second - first - 1)] = line.substr(second + 1);
    }
    int files = 0;
    for (const char* folder : {PAVRO_STORE_FILES, PAVRO_STORE_CORPUS}) {
        for (const QFileInfo& source : QDir(QString::fromUtf8(folder)).entryInfoList({"*"}, QDir::Files)) {
            const std::string name = source.fileName().toStdString();
            if (name == "read_by_earlier_versions.txt")
                continue;
            SCOPED_TRACE(name);
            ++files;
            use(source.filePath());
            QtSettingsStore store;
            for (const char* key : kKeys) {
                const auto found = expected[name].find(key);
                EXPECT_EQ(shown(store.read("Pavro", "Settings", key)),
                          found == expected[name].end() ? "Missing" : found->second)
                    << key;
            }
        }
    }
    EXPECT_EQ(files, 71);
}

// Saving one key of any such file leaves every other key reading as it did, and saving back
// what was read changes nothing at all.
TEST_F(SettingsFileCompat, SavingOneKeyKeepsEveryOtherAsItWas)
{
    for (const QFileInfo& source : QDir(QString::fromUtf8(PAVRO_STORE_FILES)).entryInfoList({"*.conf"}, QDir::Files)) {
        SCOPED_TRACE(source.fileName().toStdString());
        use(source.filePath());
        QtSettingsStore before;
        std::map<std::string, StoredText> read;
        for (const char* key : kKeys)
            read[key] = before.read("Pavro", "Settings", key);
        QFile original(file());
        ASSERT_TRUE(original.open(QIODevice::ReadOnly));
        const QByteArray bytes = original.readAll();
        original.close();
        for (const char* key : kKeys) {
            if (read[key].status == StoreStatus::Ok) {
                ASSERT_EQ(before.save("Pavro", "Settings", key, read[key].text), StoreStatus::Ok) << key;
            }
        }
        QFile again(file());
        ASSERT_TRUE(again.open(QIODevice::ReadOnly));
        EXPECT_EQ(again.readAll(), bytes);

        ASSERT_EQ(before.save("Pavro", "Settings", "Refresh", "a,\"b\"\n;c"), StoreStatus::Ok);
        read["Refresh"] = {StoreStatus::Ok, "a,\"b\"\n;c"};
        QtSettingsStore after;
        for (const char* key : kKeys)
            EXPECT_EQ(after.read("Pavro", "Settings", key), read[key]) << key;
    }
}

TEST_F(SettingsFileCompat, WhatItWritesReadsTheSameToQSettings)
{
    const std::string values[] = {"",          "25",          " 1,5 ",       "a=b;c",  "[Settings]", "\"quoted\"",
                                  "back\\slash", "line\nbreak", "\x01" "0",   "\t1f",   "@Variant(x)", "@",
                                  "\xc3\xa9t\xc3\xa9", "\xef\xbb\xbf" "x", "trailing\\"};
    QtSettingsStore store;
    ASSERT_EQ(store.save("Pavro", "Other", "Keep", "1, 2"), StoreStatus::Ok);
    for (std::size_t i = 0; i < std::size(values); ++i)
        ASSERT_EQ(store.save("Pavro", "Settings", "K" + std::to_string(i), values[i]), StoreStatus::Ok);
    QSettings earlier(file(), QSettings::NativeFormat);
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const QVariant value = earlier.value(QStringLiteral("Settings/K%1").arg(i));
        EXPECT_EQ(value.typeId(), QMetaType::QString) << i;
        EXPECT_EQ(value.toString().toStdString(), values[i]) << i;
    }
    EXPECT_EQ(earlier.value(QStringLiteral("Other/Keep")).toString().toStdString(), "1, 2");
}

}  // namespace
