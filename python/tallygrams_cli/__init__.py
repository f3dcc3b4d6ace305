"""The `tallygrams` command-line tool, shipped beside the compiled module."""
