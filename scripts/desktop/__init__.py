"""The desktop harness: the installed application under the desktops people run, driven as they
drive it, one "<TAG> PASS|FAIL|FIGURE" line per check and "<TAG> DONE ok|failed" last.

    python3 -m desktop DESKTOP FOLDER CHECKS [ARGUMENTS...]   (with scripts/ on PYTHONPATH)
    python3 -m desktop DESKTOP FOLDER --[TAG] COMMAND...

starts DESKTOP (session.DESKTOPS) with a fresh home under FOLDER, runs the checks of module CHECKS
(a Report counts them) or COMMAND in the session, and ends every process of the session by id.
"""
