#pragma once
// The application icon, resource 128: a 32x32 and a 16x16 image in 16 colours.
#include <QIcon>

QIcon LoadAppIcon();
