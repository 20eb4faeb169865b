"""``python -m vellox``: the command-line converter."""

from vellox.cli import main

raise SystemExit(main())
