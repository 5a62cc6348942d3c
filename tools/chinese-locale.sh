#!/usr/bin/env bash
# Makes the zh_CN.UTF-8 locale, under which enn speaks Chinese and Wine takes
# Chinese file names; does nothing when it is there. Run as root.
set -euo pipefail
bash "$(dirname "$0")/install-missing.sh" locales
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
