# Loads the "Send to Teleprompter" extension (package quorvane-share-desktop) into Debian's
# Chromium: /usr/bin/chromium reads the files in /etc/chromium.d/ and keeps the extensions
# named by --load-extension enabled.
export CHROMIUM_FLAGS="$CHROMIUM_FLAGS --load-extension=/usr/share/chromium/extensions/quorvane-share"
