#include "cli/ConvertCommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return ConvertCommand::run(QCoreApplication::arguments());
}
