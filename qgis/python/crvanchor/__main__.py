"""`python3 -m crvanchor ...` (the plugins folder on PYTHONPATH): the crvanchor-qgis command."""
import sys

from .command import main

sys.exit(main())
