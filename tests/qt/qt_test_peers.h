#pragma once

#include <string_view>

#include <QString>

#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_settings_window.h"
#include "platform/test_peer.h"

template <>
struct TestPeer<QtSettingsWindow> {
    /// The window's top-level widget, whose children the tests inspect.
    static QWidget* widget(const QtSettingsWindow& window) { return window.widget(); }
};

template <>
struct TestPeer<QtSettingsStore> {
    static QString filePath(std::string_view app) { return QtSettingsStore::filePath(app); }
};
