"""``python -m lumox``: the lumox command (see lumox.cli)."""

from lumox.cli import main

raise SystemExit(main())
