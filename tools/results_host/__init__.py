"""Local results host for Vantrel 3: an FTP server and a web server on one data folder.

The FTP account "vantrel" starts in the data folder and may read and write it. The web server serves, under
"/vantrel/", the data folder's shared file "compare.zip" (as "/vantrel/COMPARE.ZIP", the name in any case, with
Range requests answered) and a read-only page folder; nothing else of the data folder. A missing file is answered
with status 404 and a page beginning "<HTML><HEAD><TITLE>". Every answer carries its Content-Length.

The shared file only ever grows by whole records. An append ("APPE compare.zip") is applied only while the FTP
session that sends it holds the submitters' turn: it made the current "compare.lock" by renaming its claim folder
onto it. A replacement (an upload or a rename onto the shared file) must keep every byte of the current file.
Either way only new records that pass the checks are written, with one write(2) at the file's end, and each change
is logged by the file's new length, so any earlier state can be restored by cutting the file back. Lock-folder
commands no honest submitter sends are refused. Sessions, requests, uploads and slow transfers are limited.

One role per module: names (what the host shares with the program), records, history (the shared file and the
log of its lengths), turn, request_log, limits, web, ftp_data, ftp_control, ftp_server, and cli (flags and main).
"""
