# Saves a workbook with a password to open through LibreOffice (headless, over UNO): a producer
# of encrypted .xls files that is not ours. LibreOffice 7.4 writes RC4 with an MD5 key.
#   /usr/bin/python3 libreoffice_export.py SOURCE TARGET PASSWORD "MS Excel 97"
# An empty PASSWORD saves without one (the plain original the encrypted copies compare with).
# Needs: apt-get install -y libreoffice-calc-nogui python3-uno
import os
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue

def prop(name, value):
    p = PropertyValue(); p.Name = name; p.Value = value; return p

src, dst, password, filt = sys.argv[1:5]
work = tempfile.mkdtemp()
pipe = "sheetmerge_fixtures_%d" % os.getpid()
office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore",
    "-env:UserInstallation=file://%s/profile" % work, "--accept=pipe,name=%s;urp;" % pipe])
try:
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(100):
        try:
            context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
            break
        except Exception:
            time.sleep(0.3)
    desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
    doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(src)), "_blank", 0, (prop("Hidden", True),))
    arguments = (prop("FilterName", filt),) + ((prop("Password", password),) if password else ())
    doc.storeToURL(uno.systemPathToFileUrl(os.path.abspath(dst)), arguments)
    doc.close(True)
    try:
        desktop.terminate()
    except Exception:
        pass
finally:
    office.wait(timeout=60)
