// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Registers the built-in pictures (":/Resources/..." of the dialogs). The library is static, so
// its resources exist only once this has run; calling it again is harmless.
void kestInitPictures();
