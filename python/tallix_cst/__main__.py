import sys

from tallix_cst.cli import main

sys.exit(main())
