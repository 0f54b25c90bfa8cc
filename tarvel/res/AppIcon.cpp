#include "tarvel/res/AppIcon.h"

#include <QPixmap>

QIcon LoadAppIcon()
{
    // The images live in a static library, whose resources are registered on first use.
    Q_INIT_RESOURCE(tarvel);
    QIcon icon;
    icon.addPixmap(QPixmap(QStringLiteral(":/tarvel/tarvel-32.png")));
    icon.addPixmap(QPixmap(QStringLiteral(":/tarvel/tarvel-16.png")));
    return icon;
}
