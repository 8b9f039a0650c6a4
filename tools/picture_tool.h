#pragma once

// The start of the tools that draw pictures with Qt: a Fusion-styled application, and the
// one argument they take, the folder the pictures go to.

#include <QApplication>
#include <QDir>
#include <QStyleFactory>

#include <cstdio>
#include <optional>

namespace selvane::tools {

/// Styles the running application as the desktop's, and reads FOLDER from the command line
/// (made when `make_folder`); nothing after saying why the arguments will not do.
inline std::optional<QDir> PictureFolder(int argc, char** argv, const char* tool, bool make_folder) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", tool);
        return std::nullopt;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (make_folder) QDir().mkpath(folder.absolutePath());
    if (!folder.exists()) {
        std::fprintf(stderr, "%s: no folder %s\n", tool, argv[1]);
        return std::nullopt;
    }
    return folder;
}

}  // namespace selvane::tools
