// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestpictures.h"

#include <QtGlobal>

void kestInitPictures()
{
    Q_INIT_RESOURCE(pictures);
}
