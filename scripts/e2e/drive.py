#!/usr/bin/python3
"""Drives the real Ferrovane window through the accessibility bus, as a user
would: buttons are found by their captions and pressed. Run by scripts/test-e2e
(modes full and wayland), scripts/test-package (mode report) and
scripts/screenshot (mode screenshot).

    drive.py EXE HOME CARD BIG [full|wayland|report|screenshot]"""
import calendar, configparser, filecmp, glob, os, shutil, subprocess, sys, time

import pyatspi

EXE, HOME, CARD, BIG = sys.argv[1:5]
MODE = sys.argv[5] if len(sys.argv) > 5 else 'full'
CONF = os.path.join(HOME, '.config', 'Quillmoor', 'Ferrovane')
INI = os.path.join(CONF, 'Ferrovane.ini')
failures = []
started = []  # every program started, ended at once when a run must not go on
# Bring the accessibility bus up before any program starts, so that each
# finds it at its start.
pyatspi.Registry.getDesktop(0).childCount


def check(ok, what):
    print(('ok   ' if ok else 'FAIL ') + what, flush=True)
    if not ok:
        failures.append(what)


def wait(cond, what, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        try:
            if cond():
                return True
        except Exception:
            pass
        time.sleep(0.05)
    raise SystemExit('timed out waiting for ' + what)


def frame():
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        for child in app:
            if child is not None and child.name == 'Ferrovane' and child.getRoleName() == 'frame':
                return child
    return None


def button(caption):
    f = frame()
    return pyatspi.findDescendant(f, lambda a: a.getRoleName() == 'push button' and a.name.replace('&', '') == caption)


def enabled(caption):
    b = button(caption)
    return b is not None and b.getState().contains(pyatspi.STATE_ENABLED)


def press(caption):
    wait(lambda: enabled(caption), caption + ' enabled')
    button(caption).queryAction().doAction(0)


def start(args=(), error_at_start=False):
    """The program, idle after its start. A message box at start fails the
    run at once, with its text; with ERROR_AT_START it is said, closed and
    the run goes on."""
    env = dict(os.environ, QT_ACCESSIBILITY='1', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
    proc = subprocess.Popen([EXE, *args], env=env)
    started.append(proc)
    wait(lambda: frame() is not None, 'the window')
    wait(lambda: enabled('Copy') or dialog_button('OK') is not None, 'idle after start-up')
    if dialog_button('OK') is not None:
        said = dialog_text()
        if not error_at_start:
            proc.kill()
            raise SystemExit('FAIL a message at start-up: ' + said)
        print('note a message at start-up: ' + said, flush=True)
        press_in_dialog('OK')
        wait(lambda: enabled('Copy') and dialog_button('OK') is None, 'idle after the message at start-up')
    return proc


def close(proc, asked=None):
    """Close; a device chosen (added, or copied when connected) and not saved
    is asked about, and ASKED ('Save' or 'Discard') is the answer expected
    to be needed."""
    press('Close')
    end = time.time() + 60
    answered = None
    while proc.poll() is None and time.time() < end:
        try:
            if answered is None and dialog_button('Discard') is not None:
                answered = asked or 'Discard'
                press_in_dialog(answered)
        except Exception:
            pass
        time.sleep(0.05)
    proc.wait(timeout=5)
    check(proc.returncode == 0, 'program exits with 0')
    check(answered == asked, 'Close asks %s' % ('about the settings (%s)' % asked if asked else 'nothing'))


def log_view():
    f = frame()
    view = pyatspi.findDescendant(f, lambda a: a.getRoleName() in ('text', 'paragraph', 'document text')
                                  and a.getState().contains(pyatspi.STATE_MULTI_LINE))
    t = view.queryText()
    return t.getText(0, t.characterCount)


def newest_log():
    logs = sorted(glob.glob(os.path.join(CONF, 'Ferrovane Log *.rtf')), key=os.path.getmtime)
    return open(logs[-1], encoding='latin-1').read() if logs else ''


def settings(device, serial, dest, mode, delete=False, extra=''):
    with open(INI, 'w') as f:
        f.write('[Ferrovane]\nDeviceCount=1\nLastDevice=%s\n[Devices]\nItem0=%s\n[%s]\nDeviceName=%s\n'
                'DeviceSerialNo=%s\nDestPath=%s\nCopyMode=%d\nDateFormat=yyyy-mm-dd\nFileFiltersCheckBox=0\n'
                'DeleteFiles=%d\n%s' % (device, device, device, device, serial, dest, mode, int(delete), extra))


def card_files(card):
    out = []
    for root, _, files in os.walk(card):
        out += [os.path.join(root, f) for f in files]
    return sorted(out)


def selected_device():
    """The device the window has chosen: the device list's accessible name,
    which is its shown entry (the list is known by its label)."""
    def device_list(a):
        if a.getRoleName() != 'combo box':
            return False
        for relation in a.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                return any(relation.getTarget(i).name.replace('&', '') == 'Source Device (Camera):'
                           for i in range(relation.getNTargets()))
        return False
    combo = pyatspi.findDescendant(frame(), device_list)
    if combo is None:
        return None
    combo.clear_cache()  # the name as it is now, not as first read
    return combo.name


def press_copy(device):
    """Copy, only with DEVICE chosen: a run may delete on the device it
    copies from, and another card on this machine is never ours to touch."""
    wait(lambda: enabled('Copy'), 'Copy enabled')
    chosen = selected_device()
    if chosen != device:
        for proc in started:
            proc.kill()
        raise SystemExit('FAIL refusing to press Copy: the window has the device %r chosen, not %r' % (chosen, device))
    button('Copy').queryAction().doAction(0)


def copy_run(proc, device, done):
    press_copy(device)
    wait(lambda: not enabled('Copy') or done(), 'the run to start')
    wait(lambda: enabled('Copy') and done(), 'the run to end', timeout=300)


def windows():
    """Every window of the running program: the main one and its dialogs."""
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and any(c is not None and c.name == 'Ferrovane' and c.getRoleName() == 'frame'
                                   for c in app):
            return [c for c in app if c is not None]
    return []


def dialog_button(caption):
    for w in windows():
        if w.getRoleName() != 'frame':
            b = pyatspi.findDescendant(w, lambda a: a.getRoleName() == 'push button' and
                                       a.name.replace('&', '') == caption)
            if b is not None and b.getState().contains(pyatspi.STATE_SHOWING):
                return b
    return None


def dialog_text():
    """The labels of the dialogs shown, in one line."""
    texts = []
    for w in windows():
        if w.getRoleName() != 'frame':
            texts += [a.name for a in pyatspi.findAllDescendants(w, lambda a: a.getRoleName() == 'label' and
                                                                 bool(a.name))]
    return ' '.join(texts)


def press_in_dialog(caption):
    wait(lambda: dialog_button(caption) is not None, 'a dialog with ' + caption)
    dialog_button(caption).queryAction().doAction(0)


def read_ini():
    ini = configparser.ConfigParser(interpolation=None, strict=False)
    ini.optionxform = str
    ini.read(INI)
    return ini


def finish():
    print('%d failure(s)' % len(failures))
    sys.exit(1 if failures else 0)


def wayland_run():
    """Start, list and one copy run, the window on Wayland alone; the card is
    named on the command line, as the desktop does for an inserted card."""
    check(os.environ.get('QT_QPA_PLATFORM') == 'wayland' and not os.environ.get('DISPLAY'),
          'the window has Wayland and nothing else')
    p = start([CARD])
    wait(lambda: 'DEVICE CONTENTS:' in log_view(), 'the card named at start to be listed')
    # The card is chosen, not saved as the device to open at start: Close asks.
    close(p, 'Discard')
    ini = read_ini()
    found = [s for s in ini.sections() if ini[s].get('FolderPath') == os.path.realpath(CARD)]
    check(len(found) == 1, 'the card named at start is remembered as a folder device: %s' % found)
    if not found:
        return
    name = found[0]
    dest = os.path.join(HOME, 'dest-wayland')
    os.makedirs(dest)
    originals = {f: open(f, 'rb').read() for f in card_files(CARD)}
    settings(name, ini[name]['DeviceSerialNo'], dest, 1, extra='FolderPath=%s\n' % os.path.realpath(CARD))
    p = start()
    targets = {f: os.path.join(dest, os.path.relpath(f, CARD)) for f in originals}
    copy_run(p, name, lambda: all(os.path.exists(t) for t in targets.values()))
    close(p)
    check(all(open(t, 'rb').read() == originals[f] for f, t in targets.items()), 'Wayland: every file byte for byte')


def report_run():
    """An unexpected error (a style the program does not know, reported at
    start) reports where it happened: with debug information, functions
    with their files and lines."""
    expect_lines = os.environ.get('FERROVANE_EXPECT_LINES') == '1'
    p = start(error_at_start=True)
    wait(lambda: enabled('Close') and dialog_button('OK') is None, 'the report to be written')
    close(p)
    logs = sorted(glob.glob(os.path.join(CONF, 'Ferrovane Log *.rtf')), key=os.path.getmtime)
    text = open(logs[-1], encoding='latin-1').read() if logs else ''
    check('Stack Dump:' in text, 'the report is in the log')
    # The frame that threw, in the style code, with its line.
    named = [line for line in text.splitlines() if 'StyleList.cpp' in line and '(Line ' in line]
    print('\n'.join(named[:2]), flush=True)
    check(bool(named) == expect_lines,
          'the report %s files and lines' % ('names' if expect_lines else 'does not name'))


def screenshot_run():
    """The window with the remembered card listed, as a PNG (SHOT)."""
    p = start()
    wait(lambda: enabled('Copy') and 'DEVICE CONTENTS:' in log_view(), 'the card to be listed')
    # The picture with a German and Japanese name, found by Search.
    search = pyatspi.findDescendant(frame(), lambda a: a.getRoleName() == 'text' and a.name == 'Search:')
    search.queryEditableText().setTextContents('\u5199\u771f')
    press('Search')
    time.sleep(0.5)  # the grid repaints with the found row
    window = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^Ferrovane$'],
                            capture_output=True, text=True).stdout.split()
    check(len(window) == 1, 'one window to take')
    if window:
        subprocess.run(['import', '-window', window[0], os.environ['SHOT']], check=True)
    close(p)


if MODE == 'screenshot':
    screenshot_run()
    finish()
if MODE == 'wayland':
    wayland_run()
    finish()
if MODE == 'report':
    report_run()
    finish()


# First start: the folder device is found and remembered.
p = start()
close(p)
ini = configparser.ConfigParser(interpolation=None, strict=False)
ini.optionxform = str
ini.read(INI)
# Ours is the device on the card this script made; other cards may be
# mounted on this machine, and are never copied from or deleted on.
names = {}
for section in ini.sections():
    if section not in ('Ferrovane', 'Devices') and os.path.realpath(CARD) in (
            ini[section].get('FolderPath'), ini[section].get('DeviceSerialNo')):
        names[section] = ini[section].get('DeviceSerialNo', '')
check(len(names) == 1, 'the folder device is found: %s' % names)
if len(names) != 1:
    sys.exit(1)
card_name = next(iter(names))

originals = {f: open(f, 'rb').read() for f in card_files(CARD)}
mtimes = {f: os.path.getmtime(f) for f in originals}

# Date mode.
dest1 = os.path.join(HOME, 'dest-dated')
os.makedirs(dest1)
settings(card_name, names[card_name], dest1, 0)
expected = {f: os.path.join(dest1, time.strftime('%Y-%m-%d', time.localtime(mtimes[f])), os.path.basename(f))
            for f in originals}
p = start()
copy_run(p, card_name, lambda: all(os.path.exists(t) for t in expected.values()))
close(p)
check(all(open(t, 'rb').read() == originals[f] for f, t in expected.items()), 'date mode: every file byte for byte')
check(all(abs(os.path.getmtime(t) - mtimes[f]) < 2 for f, t in expected.items()), 'date mode: file dates kept')
log = newest_log()
check('%d Files copied to Destination.' % len(originals) in log, 'log: statistics of the first run')
check('0 Errors encountered.' in log, 'log: no errors')

# The second run finds every file present.
p = start()
press_copy(card_name)
# The run's end shows as its statistics in the log view.
wait(lambda: enabled('Copy') and 'Errors encountered.' in log_view(), 'second run end', timeout=120)
close(p)
log = newest_log()
# In the saved file (RTF doubles the backslash) the name shows escaped.
check('102TEST/x\\\\xFF.JPG' in log, 'log: a name that is not UTF-8 shows as x\\xFF.JPG')
check('%d Files already existing at Destination.' % len(originals) in log and '0 Files copied to Destination.' in log,
      'second run: every file already present')

# Folder mode with delete after copy.
dest2 = os.path.join(HOME, 'dest-folders')
os.makedirs(dest2)
settings(card_name, names[card_name], dest2, 1, delete=True)
p = start()
copy_run(p, card_name, lambda: not card_files(CARD))
close(p)
for f, data in originals.items():
    rel = os.path.relpath(f, CARD)
    target = os.path.join(dest2, rel)
    check(os.path.exists(target) and open(target, 'rb').read() == data, 'folder mode: ' + rel)
check(not card_files(CARD), 'delete after copy: the card holds no files')
check('%d Files delete from Source.' % len(originals) in newest_log(), 'log: seven-line statistics with deletions')

# Stop mid-run on a big card: nothing partial under a final name.
dest3 = os.path.join(HOME, 'dest-stop')
os.makedirs(dest3)
shutil.copytree(BIG, CARD, dirs_exist_ok=True)
big = card_files(CARD)
# Each file's command takes a moment, so that Stop meets a run in progress.
settings(card_name, names[card_name], dest3, 1,
         extra='PostFileCopyCommandCheckBox=1\nPostFileCopyCommandLabeledEdit=sleep 0.3\n')
p = start()
press_copy(card_name)
wait(lambda: any(files for _, _, files in os.walk(dest3)), 'a first copied file', timeout=120)
press('Stop')
wait(lambda: enabled('Copy'), 'idle after Stop', timeout=120)
# The run's hash list history is not a copied file.
copied = [c for c in card_files(dest3) if os.sep + 'ascmhl' + os.sep not in c]
check(0 < len([c for c in copied if not os.path.basename(c).startswith('.')]) < len(big), 'Stop ended the run early (%d of %d)' % (len(copied), len(big)))
bad = [c for c in copied if not os.path.basename(c).startswith('.') and
       not filecmp.cmp(c, os.path.join(BIG, os.path.relpath(c, dest3)), shallow=False)]
check(not any(os.path.basename(c).startswith('IMG_') for c in copied), 'Stop: only the big card was copied')
check(not bad, 'Stop: every file under a final name is whole %s' % bad[:3])
check(not [c for c in copied if os.path.basename(c).startswith('.ferrovane-')], 'Stop: no temporary left')
close(p)
check('Stop Signalled.' in newest_log() and 'Elapsed Time' not in newest_log().split('Stop Signalled.')[-1],
      'log: Stop Signalled and no statistics after it')

# Add Folder…: any folder becomes a device, chosen in the folder dialog.
extra = os.path.join(HOME, 'Holiday')
os.makedirs(os.path.join(extra, 'DCIM'))
open(os.path.join(extra, 'DCIM', 'IMG_9000.JPG'), 'wb').write(b'picture')
p = start()
press('Add Folder\u2026')


def folder_field():
    for w in windows():
        if w.getRoleName() != 'frame':
            edit = pyatspi.findDescendant(w, lambda a: a.getRoleName() == 'text' and
                                          a.getState().contains(pyatspi.STATE_EDITABLE) and
                                          a.getState().contains(pyatspi.STATE_SHOWING))
            if edit is not None:
                return edit
    return None


wait(lambda: folder_field() is not None, 'the folder dialog')
folder_field().queryEditableText().setTextContents(extra)
press_in_dialog('Choose')
# Remembered before it is listed; the window is busy until the listing ends.
wait(lambda: read_ini()['Folder Holiday'].get('FolderPath') == os.path.realpath(extra) and enabled('Copy'),
     'the added folder to be remembered and listed')
# Chosen, not saved as the device to open at start: Close asks.
close(p, 'Discard')
check('DEVICE CONTENTS:' in newest_log().split('DEVICE: Folder Holiday', 1)[-1] and
      'DEVICE: Folder Holiday' in newest_log(), 'Add Folder: the folder is selected and listed')

# Date folders from when the photo or video was taken: a photo's EXIF date and
# a movie header's creation time, not the file dates; a file without such a
# date goes by its file date, and the log says so.
def exif_jpeg(taken, filler):
    """A small JPEG whose EXIF holds DateTimeOriginal (YYYY:MM:DD HH:MM:SS)."""
    import struct
    date = taken.encode() + b'\0'
    ifd0 = struct.pack('<H', 1) + struct.pack('<HHII', 0x8769, 4, 1, 26) + struct.pack('<I', 0)
    exif = struct.pack('<H', 1) + struct.pack('<HHII', 0x9003, 2, len(date), 44) + struct.pack('<I', 0)
    tiff = b'II*\0' + struct.pack('<I', 8) + ifd0 + exif + date
    app1 = b'Exif\0\0' + tiff
    com = filler
    return (b'\xff\xd8' + b'\xff\xe1' + struct.pack('>H', len(app1) + 2) + app1 +
            b'\xff\xfe' + struct.pack('>H', len(com) + 2) + com + b'\xff\xd9')


def mp4(created_utc, filler):
    """A small MP4 whose movie header holds its creation time."""
    import struct

    def box(kind, body):
        return struct.pack('>I', len(body) + 8) + kind + body
    seconds = calendar.timegm(created_utc) + 2082844800
    mvhd = box(b'mvhd', b'\0\0\0\0' + struct.pack('>IIII', seconds, seconds, 600, 0) + b'\0' * 80)
    return box(b'ftyp', b'isom' + struct.pack('>I', 0x200) + b'isommp42') + box(b'moov', mvhd) + box(b'mdat', filler)


taken_photo = os.path.join(extra, 'DCIM', 'IMG_9001.JPG')
taken_movie = os.path.join(extra, 'DCIM', 'MVI_9002.MP4')
open(taken_photo, 'wb').write(exif_jpeg('2019:05:04 12:34:56', os.urandom(3000)))
movie_utc = time.strptime('2020-02-03 23:30:00', '%Y-%m-%d %H:%M:%S')
open(taken_movie, 'wb').write(mp4(movie_utc, os.urandom(3000)))
for f in (taken_photo, taken_movie):
    os.utime(f, (time.mktime((2016, 8, 11, 10, 0, 0, 0, 0, -1)),) * 2)
dest_taken = os.path.join(HOME, 'dest-taken')
os.makedirs(dest_taken)
ini = read_ini()
ini['Ferrovane']['LastDevice'] = 'Folder Holiday'
ini['Folder Holiday'].update({'DestPath': dest_taken, 'CopyMode': '0', 'DateFormat': 'yyyy-mm-dd',
                              'FileFiltersCheckBox': '0', 'DateSource': '1'})
with open(INI, 'w', encoding='utf-8') as f:
    ini.write(f, space_around_delimiters=False)
movie_local = time.localtime(calendar.timegm(movie_utc))
plain = os.path.join(extra, 'DCIM', 'IMG_9000.JPG')
expected = {taken_photo: os.path.join(dest_taken, '2019-05-04', 'IMG_9001.JPG'),
            taken_movie: os.path.join(dest_taken, time.strftime('%Y-%m-%d', movie_local), 'MVI_9002.MP4'),
            plain: os.path.join(dest_taken, time.strftime('%Y-%m-%d', time.localtime(os.path.getmtime(plain))),
                                'IMG_9000.JPG')}
p = start()
copy_run(p, 'Folder Holiday', lambda: all(os.path.exists(t) for t in expected.values()))
close(p)
for f, t in expected.items():
    check(os.path.exists(t) and filecmp.cmp(f, t, shallow=False), 'date taken: %s in %s' %
          (os.path.basename(f), os.path.relpath(os.path.dirname(t), dest_taken)))
check(abs(os.path.getmtime(expected[taken_photo]) - time.mktime((2019, 5, 4, 12, 34, 56, 0, 0, -1))) < 2,
      'date taken: the copy of the photo is dated when it was taken')
check('No date taken from' in newest_log() and '0 Errors encountered.' in newest_log(),
      'date taken: a file without one goes by its file date, said in the log, no errors')

# Devices coming and going: a card image holding DCIM loop-mounted and
# unmounted while the program runs, then copied by itself once its options
# ask for it.
if os.geteuid() != 0:
    print('skip devices coming and going: mounting needs root (run scripts/test-e2e as root)', flush=True)
else:
    hot = os.path.join(HOME, 'hotplug')
    dest4 = os.path.join(HOME, 'dest-hotplug')
    os.makedirs(hot)
    os.makedirs(dest4)

    image = os.path.join(HOME, 'card.img')

    def mount():
        """A card image on a loop device: FAT as cameras write it where this
        kernel has it, ext4 otherwise, a tmpfs where loop devices are missing."""
        if not os.path.exists(image):
            fat = 'vfat' in open('/proc/filesystems').read() and shutil.which('mkfs.fat')
            with open(image, 'wb') as f:
                f.truncate(16 << 20)
            subprocess.run(['mkfs.fat', '-n', 'HOTPLUG', image] if fat else ['mkfs.ext4', '-q', '-F', image],
                           check=True, stdout=subprocess.DEVNULL)
        if subprocess.run(['mount', '-o', 'loop', image, hot]).returncode != 0:
            print('no loop device: the card is a tmpfs', flush=True)
            subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=8m', 'ferrovane-e2e', hot], check=True)
        os.makedirs(os.path.join(hot, 'DCIM', '100HOT'), exist_ok=True)
        with open(os.path.join(hot, 'DCIM', '100HOT', 'HOT_0001.JPG'), 'wb') as f:
            f.write(b'hot' * 1000)

    def seen(line, what):
        began = time.time()
        wait(lambda: line in log_view(), what, timeout=30)
        took = time.time() - began
        check(took < 2.0, '%s (after %.1f s)' % (what, took))

    name = 'Memory Card hotplug'
    p = start()
    mount()
    seen('New device found "%s"' % name, 'a mounted card is added to the list')
    subprocess.run(['umount', hot], check=True)
    seen('Device "%s" was disconnected.' % name, 'an unmounted card is said to be gone')
    text = open(INI, encoding='utf-8').read()
    check('[%s]' % name in text, 'the new card is remembered in the settings')
    with open(INI, 'w', encoding='utf-8') as f:
        f.write(text.replace('[%s]\n' % name, '[%s]\nCopyOnConnect=1\nDestPath=%s\nCopyMode=1\n' % (name, dest4)))
    mount()
    seen('Device "%s" was connected.' % name, 'the card mounted again is said to be back')
    target = os.path.join(dest4, 'DCIM', '100HOT', 'HOT_0001.JPG')
    wait(lambda: os.path.exists(target) and enabled('Copy'), 'the copy when connected', timeout=60)
    check(open(target, 'rb').read() == b'hot' * 1000, 'a card set to be copied when connected is copied')
    # The card copied is the device chosen now: Close asks.
    close(p, 'Discard')
    subprocess.run(['umount', hot], check=True)

finish()
