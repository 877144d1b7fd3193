import sys

from tallix_cst.cli import main

# Guarded: `check -j` starts worker processes that may import this module again.
if __name__ == "__main__":
    sys.exit(main())
