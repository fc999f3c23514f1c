"""The desktop harness: the installed application under the desktops people run, driven as they
drive it, one "<TAG> PASS|FAIL|FIGURE" line per check and "<TAG> DONE ok|failed" last.

    python3 -m desktop DESKTOP FOLDER CHECKS [ARGUMENTS...]   (with scripts/ on PYTHONPATH)
    python3 -m desktop DESKTOP FOLDER --[TAG] COMMAND...

starts DESKTOP (session.DESKTOPS) with a fresh home under FOLDER, then runs the checks of module
CHECKS, or COMMAND with the session's environment (the session's own lines tagged TAG), and ends every process of the session by id.
Nothing here keeps state between calls: a Report counts the failures, a Session holds the
processes and the environment, and both are passed to whatever needs them.
"""
