// velantro-artgen: draws the console's pictures and icon and writes them into a source
// tree. Usage: velantro-artgen <source-dir>
#include "artwork.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() != 2) {
        err << "usage: velantro-artgen <source-dir>\n";
        return 2;
    }
    const QString error = artgen::WriteArtwork(args.at(1));
    if (!error.isEmpty()) {
        err << "velantro-artgen: " << error << "\n";
        return 1;
    }
    return 0;
}
