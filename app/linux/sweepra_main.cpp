// Sweepra on Linux: deletes Pavro's stored settings, then shows its empty window until closed.

#include <QApplication>
#include <QWidget>

#include <iostream>

#include "platform/qt/qt_settings_store.h"
#include "remover/sweepra.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sweepra"));

    {
        QtSettingsStore store;
        deleteStoredSettings(store, &std::cerr);
    }

    QWidget form;
    form.setObjectName(QStringLiteral("Form1"));
    form.setWindowTitle(QStringLiteral("Form1"));
    form.resize(312, 206);
    form.show();
    return QApplication::exec();
}
