import sys

# Guarded: a cluster's worker processes may import the main module again.
if __name__ == "__main__":
    from .launch import main

    sys.exit(main())
