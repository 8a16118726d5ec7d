#!/usr/bin/python3
"""pellar-mail against a real SMTP server on 127.0.0.1 (aiosmtpd).

Reports run by the pellar host spool the messages; what the server received
is decoded and compared with what the reports asked for.

Usage: real_smtp_test.py PELLAR PELLAR_MAIL SERVER_SCRIPT WORK_DIR GROUP
GROUP: delivery, login, encryption, refusals, silent or two_runs.
Exits 77 (not run) when aiosmtpd or openssl is missing; 1 under CI=true.
"""
from contextlib import nullcontext
import email
import email.policy
import glob
import os
import select
import shutil
import socket
import subprocess
import sys
import time

PELLAR, MAILER, SERVER, WORK, GROUP = sys.argv[1:6]
SENDER = "Reports <reports@example.com>"
# Seconds to wait for another process: a loaded machine may need minutes.
PATIENCE = 300
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class Server:
    """The test server in a `with` block, stopped when the block ends."""

    def __init__(self, name, *options):
        self.folder = os.path.join(WORK, name)
        os.makedirs(self.folder)
        self.process = subprocess.Popen(
            ["/usr/bin/python3", SERVER, self.folder, *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        # It prints its port once it listens.
        if not select.select([self.process.stdout], [], [], PATIENCE)[0]:
            self.process.kill()
            sys.exit("FAIL: the SMTP server did not start")
        self.address = "127.0.0.1:" + self.process.stdout.readline().strip()

    def __enter__(self):
        return self

    def __exit__(self, *error):
        self.process.kill()
        self.process.wait()

    def received(self):
        """(envelope lines, message) for every message, in arrival order."""
        found = []
        for env in sorted(glob.glob(os.path.join(self.folder, "*.env")),
                          key=lambda p: int(os.path.basename(p)[:-4])):
            with open(env) as e, open(env[:-4] + ".eml", "rb") as m:
                found.append((e.read().split("\n"), email.message_from_binary_file(
                    m, policy=email.policy.default)))
        return found


def q(text):
    return '"' + text.replace('"', '""') + '"'


def report(folder, lines, outbox="outbox"):
    """Runs a report of `lines` on an Email object m in `folder` under the
    pellar host; answers the absolute outbox path it may spool into."""
    outbox = os.path.join(folder, outbox)
    os.makedirs(outbox, exist_ok=True)
    with open(os.path.join(folder, "report.vbs"), "w") as script:
        script.write('Set m = CreateObject("PellarLib.Email")\n' +
                     "\n".join(line.replace("OUTBOX", q(outbox)) for line in lines) + "\n")
    with open(os.path.join(folder, "report.out"), "w") as out:
        subprocess.run([PELLAR, "run", "report.vbs"], cwd=folder, stdout=out, check=True)
    return outbox


def spool(folder, *messages):
    """Spools each (id, server, subject, lines) message with SaveOutbox."""
    return report(folder, [line for msg_id, server, subject, extra in messages
                           for line in ["Call m.Clear()", *extra,
                                        f"Call m.SaveOutbox(OUTBOX, {q(server)}, {q(SENDER)}, "
                                        f"{q('ada@example.com')}, {q(subject)}, {q(msg_id)})"]])


def mail(outbox, *options):
    run = subprocess.run([MAILER, *options, outbox], capture_output=True,
                         text=True, timeout=PATIENCE)
    return run.returncode, run.stdout.splitlines()


def set_encryption(outbox, value):
    for path in glob.glob(os.path.join(outbox, "*.xml")):
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data.replace(b"<Encryption>None</Encryption>",
                                 f"<Encryption>{value}</Encryption>".encode()))


def left(outbox, folder=""):
    return sorted(os.listdir(os.path.join(outbox, folder)))


def private(path):
    return os.stat(path).st_mode & 0o777 == 0o600


def delivery():
    """A report spools a message with everything in it and starts pellar-mail
    itself through SendOutbox, on an outbox path with a blank."""
    folder = os.path.join(WORK, "report")
    os.makedirs(folder)
    table = "<table><tr><td>caf\xe9 \u20ac</td></tr></table>"  # Windows-1252
    with open(os.path.join(folder, "table.html"), "wb") as f:
        f.write(table.encode("cp1252"))
    attachments = {"data.bin": bytes(range(256)) * 300 + b"\r\n.\r\n",
                   "Zahlen \xfcbersicht.csv": "a;b\r\n\u20ac;2\r\n".encode("cp1252")}
    for name, data in attachments.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    subject = "Caf\xe9 \u2013 Zahlen \u20ac"
    with Server("delivery") as server:
        outbox = report(folder, [
            'Call m.Body("Dear %NAME%,")', 'Call m.Body(".a line starting with a dot")',
            'Call m.HTML("<p>Dear %NAME%,</p>%TABLE%")', 'Call m.Edit("%NAME%", "Ada & Grace")',
            'Call m.EditFile("%TABLE%", "table.html")',
            *[f"Call m.Attach({q(name)})" for name in attachments],
            'Call m.AddTag("Cc", "Grace Hopper <grace@example.com>; bob@example.com")',
            'Call m.AddTag("Bcc", "audit@example.com")',
            'Call m.AddTag("Reply-To", "desk@example.com")', 'Call m.AddTag("X-Report", "monthly")',
            f"Call m.SaveOutboxWithAttachments(OUTBOX, {q(server.address.replace(':', ' '))}, "
            f"{q(SENDER)}, {q('ada@example.com, Tom <tom@example.com>')}, {q(subject)}, \"M\", 0)",
            f"Call m.SendOutbox(OUTBOX, {q(MAILER)})"], outbox="out box")
        # SendOutbox does not wait for the program, which moves the document
        # (renames it) into sent/ once the server has stored the message.
        sent = os.path.join(outbox, "sent", "M0000.xml")
        deadline = time.monotonic() + PATIENCE
        while not os.path.exists(sent) and time.monotonic() < deadline:
            time.sleep(0.1)
        check(os.path.exists(sent) and private(sent), "sent/M0000.xml, mode 0600")
        check(not glob.glob(os.path.join(outbox, "*.xml")), "the outbox is empty")
        received = server.received()
    check(len(received) == 1, f"one message received, not {len(received)}")
    if not received:
        return
    envelope, msg = received[0]
    check(envelope == ["reports@example.com", "ada@example.com", "tom@example.com",
                       "grace@example.com", "bob@example.com", "audit@example.com"],
          f"envelope {envelope}")
    expected = {"Subject": subject, "From": SENDER,
                "To": "ada@example.com, Tom <tom@example.com>",
                "Cc": "Grace Hopper <grace@example.com>, bob@example.com",
                "Reply-To": "desk@example.com", "X-Report": "monthly", "Bcc": None}
    for name, value in expected.items():
        check(msg[name] == value, f"{name}: {msg[name]!r}, not {value!r}")
    text = msg.get_body(("plain",)).get_content()
    check(text == "Dear Ada & Grace,\n.a line starting with a dot", f"text body {text!r}")
    html = msg.get_body(("html",)).get_content()
    check(html == "<p>Dear Ada & Grace,</p>" + table, f"HTML body {html!r}")
    got = {p.get_filename(): (p.get_content_type(), p.get_payload(decode=True))
           for p in msg.iter_attachments()}
    check(got == {"data.bin": ("application/octet-stream", attachments["data.bin"]),
                  "Zahlen \xfcbersicht.csv": ("text/csv", attachments["Zahlen \xfcbersicht.csv"])},
          f"attachments {sorted(got)}")


def login():
    """Right and wrong passwords, a missing attachment, and a dry run."""
    folder = os.path.join(WORK, "login")
    gone = os.path.join(folder, "gone.csv")
    with Server("login-server", "--auth", "mailer:s3cr&t") as server:
        outbox = spool(folder,
                       ("A", server.address, "A", ['Call m.SetServerLogin("mailer", "s3cr&t")']),
                       ("B", server.address, "B", ['Call m.SetServerLogin("mailer", "wrong")']),
                       ("C", server.address, "C", ['Call m.SetServerLogin("mailer", "s3cr&t")',
                                                   f'Call m.Command("Attach", {q(gone)})']))
        with open(os.path.join(outbox, "A.xml"), "rb") as a, open(os.path.join(outbox, "D.xml"), "wb") as d:
            d.write(a.read()[:400])  # as if the library were still writing it
        status, lines = mail(outbox, "--dry-run")
        check(status == 1 and lines[0].startswith("would send A.xml to ada@example.com")
              and "Subject: A" in lines and lines[-1] == "2 to send, 1 failed, 1 deferred (dry run)",
              f"dry run: {status} {lines}")
        check(left(outbox) == ["A.xml", "B.xml", "C.xml", "D.xml"] and not server.received(),
              "a dry run moves and sends nothing")
        status, lines = mail(outbox)
        received = server.received()
    check(status == 1, f"exit status {status}")
    expected = ["sent A.xml to ada@example.com",
                "failed B.xml: the server answered 535 5.7.8 Authentication credentials invalid",
                f"failed C.xml: cannot read attachment {gone}: No such file or directory",
                "deferred D.xml: the document is still being written",
                "1 sent, 2 failed, 1 deferred"]
    check(lines == expected, f"output {lines}")
    check(len(received) == 1 and received[0][1]["Subject"] == "A", "only A arrived")
    check(left(outbox, "failed") == ["B.xml", "B.xml.log", "C.xml", "C.xml.log"],
          f"failed/ holds {left(outbox, 'failed')}")
    log = os.path.join(outbox, "failed", "B.xml.log")
    check(private(log) and private(os.path.join(outbox, "failed", "B.xml")),
          "failed documents and logs are private")
    with open(log) as f:
        check(f.read().endswith(" " + expected[1] + "\n"), "the log gives the reason")
    with open(os.path.join(outbox, "pellar-mail.log")) as f:
        logged = f.read().splitlines()
    check([line.split(" ", 2)[2] for line in logged] == expected, f"run log {logged}")


def encryption():
    """STARTTLS (required, never a fall-back to clear text) and SSL with a
    throw-away certificate; a certificate the run does not trust."""
    cert, key = os.path.join(WORK, "cert.pem"), os.path.join(WORK, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)
    trust = ["--cacert", cert]
    cases = [  # server options, Encryption, pellar-mail options, outcome, reason
        (["--starttls", cert, key, "--auth", "u:p"], "TLS", trust, "sent", ""),
        (["--ssl", cert, key, "--auth", "u:p"], "SSL", trust, "sent", ""),
        (["--starttls", cert, key], "TLS", [], "failed", "certificate"),
        (["--auth", "u:p"], "TLS", trust, "failed", "STARTTLS"),
    ]
    # A TLS request added after the login's "None" is never undone by it,
    # whatever the case of its tag.
    for number, (tag, options, outcome) in enumerate(
            [(tag, options, outcome) for tag in ("Encryption", "encryption")
             for options, outcome in [(["--auth", "ada:pw"], "failed"),
                                      (["--starttls", cert, key, "--auth", "ada:pw"], "sent")]]):
        with Server(f"downgrade{number}", *options) as server:
            outbox = spool(os.path.join(WORK, f"downgrade{number}-report"),
                           ("T", server.address, "T", ['Call m.SetServerLogin("ada", "pw")',
                                                       f'Call m.AddTag("{tag}", "TLS")']))
            status, lines = mail(outbox, *trust)
            auth_log = os.path.join(server.folder, "auth.log")
            logins = open(auth_log).read().split() if os.path.exists(auth_log) else []
        check(lines[0].startswith(f"{outcome} T.xml") and "plain" not in logins and
              len(logins) == (outcome == "sent"), f"{tag} TLS asked after None: {lines} {logins}")
    # A request not understood fails its document alone.
    with Server("unknown", "--auth", "ada:pw") as server:
        outbox = spool(os.path.join(WORK, "unknown-report"),
                       ("U", server.address, "U", ['Call m.SetServerLogin("ada", "pw")',
                                                   'Call m.AddTag("encryption", "StartTLS")']),
                       ("V", server.address, "V", ['Call m.SetServerLogin("ada", "pw")']))
        status, lines = mail(outbox)
        received = server.received()
    check(lines[:2] == ['failed U.xml: unknown Encryption "StartTLS" (None, TLS or SSL)',
                        "sent V.xml to ada@example.com"] and
          [msg["Subject"] for _, msg in received] == ["V"], f"unknown Encryption: {lines}")
    for number, (options, value, extra, outcome, reason) in enumerate(cases):
        with Server(f"tls{number}", *options) as server:
            outbox = spool(os.path.join(WORK, f"tls{number}-report"),
                           ("T", server.address, "T", ['Call m.SetServerLogin("u", "p")']))
            set_encryption(outbox, value)
            status, lines = mail(outbox, *extra)
            received = server.received()
        what = f"{options[0]} {value}: {status} {lines}"
        check(lines[0].startswith(f"{outcome} T.xml") and reason in lines[0], what)
        check(len(received) == (outcome == "sent"), what + f", {len(received)} received")


def refusals():
    """5xx fails for good, 4xx and a server that is down defer; a refused
    command is reported by its own reply, not by the QUIT's after it."""
    with Server("refuse-rcpt", "--refuse-rcpt", "ada@example.com") as server:
        status, lines = mail(spool(os.path.join(WORK, "refuse-rcpt-report"),
                                   ("R", server.address, "R", [])))
    check(status == 1 and lines[0] == "failed R.xml: the server answered "
          "501 5.1.3 Bad recipient address syntax", f"RCPT refused: {status} {lines}")
    with socket.socket() as probe:  # a port nobody listens on
        probe.bind(("127.0.0.1", 0))
        down = f"127.0.0.1:{probe.getsockname()[1]}"
    cases = [  # server reply (None: no server), status, line
        ("554 5.7.1 not from you", 1, "failed R.xml: the server answered 554 5.7.1 not from you"),
        ("451 4.3.0 try later", 75, "deferred R.xml: the server answered 451 4.3.0 try later"),
        (None, 75, "deferred R.xml: Couldn't connect to server"),
    ]
    for number, (reply, code, line) in enumerate(cases):
        folder = os.path.join(WORK, f"refuse{number}-report")
        with Server(f"refuse{number}", "--reply", reply) if reply else nullcontext() as server:
            for _ in range(2):  # the same names spooled again after the first run
                address = server.address if server else down
                outbox = spool(folder, ("R", address, "R", []), ("S", address, "S", []))
                status, lines = mail(outbox)
                check(status == code and lines[0].startswith(line), f"{reply}: {status} {lines}")
        if code == 1:
            check(left(outbox, "failed") == ["R-1.xml", "R-1.xml.log", "R.xml", "R.xml.log",
                                             "S-1.xml", "S-1.xml.log", "S.xml", "S.xml.log"],
                  f"failed/ keeps both attempts: {left(outbox, 'failed')}")
        else:
            check("R.xml" in left(outbox) and not left(outbox, "failed"),
                  f"{reply}: the document stays in the outbox")
            check(lines[1] == line.replace("R.xml", "S.xml") + lines[0][len(line):],
                  f"the second document to the same server: {lines[1]}")


def silent():
    """A server that never greets is waited for once per run, not once per
    document: the connections it never accepted are counted after the run."""
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(8)
        address = f"127.0.0.1:{listener.getsockname()[1]}"
        status, lines = mail(spool(os.path.join(WORK, "silent-report"), ("R", address, "R", []),
                                   ("S", address, "S", [])), "--timeout", "2")
        listener.setblocking(False)
        connections = []
        while select.select([listener], [], [], 0)[0]:
            connections.append(listener.accept()[0])
    check(len(connections) == 1 and status == 75 and lines[1].startswith("deferred S.xml"),
          f"one connection to a silent server, not {len(connections)}: {lines}")


def two_runs():
    """Two runs started together send every message exactly once."""
    with Server("two-runs") as server:
        outbox = spool(os.path.join(WORK, "two-runs-report"),
                       *[(f"N{i:02}", server.address, f"N{i:02}", []) for i in range(30)])
        runs = [subprocess.Popen([MAILER, outbox], stdout=subprocess.PIPE, text=True)
                for _ in range(2)]
        outputs = [run.communicate(timeout=PATIENCE)[0].splitlines() for run in runs]
        received = server.received()
    check([run.returncode for run in runs] == [0, 0], "both runs end with 0")
    subjects = sorted(msg["Subject"] for _, msg in received)
    check(subjects == [f"N{i:02}" for i in range(30)], f"received {subjects}")
    check(sorted(o[-1] for o in outputs) == ["0 sent, 0 failed, 0 deferred",
                                             "30 sent, 0 failed, 0 deferred"],
          f"summaries {[o[-1] for o in outputs]}")
    check(len(left(outbox, "sent")) == 30, "all 30 in sent/")


def unavailable(why):
    """Not run (77); under CI=true, where the tools must be there, a failure."""
    print("not run: " + why)
    sys.exit(1 if os.environ.get("CI") == "true" else 77)


if __name__ == "__main__":
    if subprocess.run(["/usr/bin/python3", "-c", "import aiosmtpd"]).returncode != 0:
        unavailable("/usr/bin/python3 cannot import aiosmtpd (Debian python3-aiosmtpd)")
    if shutil.which("openssl") is None:
        unavailable("openssl is not installed")
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    globals()[GROUP]()
    print("FAIL" if failures else "PASS", GROUP)
    sys.exit(1 if failures else 0)
