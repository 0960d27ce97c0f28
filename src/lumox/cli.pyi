"""The lumox command: ``lumox start|run|report|docs|check|merge|notify|schema``, see
``lumox --help`` (native module; the console script ``lumox`` calls main)."""

from collections.abc import Sequence

def main(argv: Sequence[str] | None = None) -> int:
    """Runs the lumox command with `argv` (default: the process's arguments, sys.argv[1:])
    and returns its exit status: pytest's for ``run``, 0 or 1 for the others, 2 for a usage
    error, 130 after Ctrl-C, 141 when the reader of the output has gone."""
