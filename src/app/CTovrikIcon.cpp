#include "app/CTovrikIcon.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitTovrikResources()
{
    Q_INIT_RESOURCE(tovrik);
}

QIcon CTovrikIcon::Icon()
{
    static const bool bInitialised = (InitTovrikResources(), true);
    (void)bInitialised;
    QIcon icon;
    for (const int nSize : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tovrik/icons/%1/tovrik.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}
