// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Enters every action type into the script builder's registry. Called once at program start,
// before the first script is built; later calls do nothing.
void kestRegisterActions();
