#!/usr/bin/env bash
# Runs the player on the bundled demo course.
set -euo pipefail
echo "The player's window and the demo course are not built yet: this command is available once the player starts."
