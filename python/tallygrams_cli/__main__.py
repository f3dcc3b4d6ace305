import sys

from .cli import main

# Guarded: a cluster's worker processes may import the main module again.
if __name__ == "__main__":
    sys.exit(main())
