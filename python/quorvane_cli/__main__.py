import sys

from quorvane_cli import main

sys.exit(main())
