#!/usr/bin/python3
"""Chooses a line of Tavrimo's list and presses OK through AT-SPI, the way a
screen reader would: the line's Toggle action, then the button's Press.
Exits 0 once line LINE alone was selected and OK pressed, 1 otherwise.
    atspi_choose.py LINE"""
import sys
import time

import pyatspi


def fail(why):
    # On standard output, where the test shows it.
    print("atspi_choose: " + why)
    sys.exit(1)


line = int(sys.argv[1])
frame = None
for _ in range(150):
    apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Tavrimo"]
    if apps and apps[0].childCount and apps[0][0].childCount >= 2 and apps[0][0][0].childCount:
        frame = apps[0][0]
        break
    time.sleep(0.1)
if frame is None:
    fail("no Tavrimo window with a list on the accessibility bus")
lst, button = frame[0], frame[1]
if line >= lst.childCount:
    fail(f"line {line} asked for, the list has {lst.childCount}")


def selected():
    return [i for i in range(lst.childCount) if lst[i].getState().contains(pyatspi.STATE_SELECTED)]


if selected() != [line]:
    lst[line].queryAction().doAction(0)  # Toggle: selects a line that is not selected
for _ in range(50):
    if selected() == [line]:
        break
    time.sleep(0.1)
if selected() != [line]:
    fail(f"line {line} asked for, {selected()} selected")
press = button.queryAction()
names = [press.getName(i) for i in range(press.nActions)]
if "Press" not in names or not press.doAction(names.index("Press")):
    fail(f"OK could not be pressed ({names})")
print(f"line {line} selected, OK pressed")
