"""`python -m quorvane_cli`: the `quorvane` command."""

import sys

from quorvane_cli import main

sys.exit(main())
