#!/usr/bin/python3
"""pellar-mail against Python's smtplib, sending the same spooled messages
to the same loopback SMTP server (tests/mail/smtp_server.py, which accepts
and discards them).

A report run by the pellar host spools MESSAGES documents into an outbox,
each with one attachment of ATTACHMENT_KB kilobytes of random bytes. The
outbox is copied for each contender and each round:

  pellar-mail   the program itself: reads, builds, sends, moves to sent/;
  python peer   the same job in Python: ElementTree reads the document,
                email.message builds the message, smtplib sends it over one
                connection, os.rename moves it to sent/.

Prints the best wall-clock time of each over ROUNDS alternating rounds
and their ratio (target: pellar-mail / python peer <= 1).

Usage: bench/mail_send_bench.py [BUILD] [--messages N] [--attachment-kb K]
                                [--rounds R]
BUILD is a native build folder (default build/test) holding programs/pellar/pellar
and programs/pellar-mail/pellar-mail. Run by hand; it is not part of ./test.
"""
import argparse
import email.message
import mimetypes
import os
import shutil
import smtplib
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def spool(pellar, folder, count, attachment_kb, server):
    outbox = os.path.join(folder, "outbox")
    os.makedirs(outbox)
    lines = ['Set m = CreateObject("PellarLib.Email")']
    for i in range(count):
        name = os.path.join(folder, f"report{i:04}.pdf")
        with open(name, "wb") as f:
            f.write(os.urandom(attachment_kb * 1024))
        lines += ["Call m.Clear()", f'Call m.Body("Report {i} attached.")',
                  f'Call m.Attach("{name}")',
                  f'Call m.SaveOutboxWithAttachments("{outbox}", "{server}", '
                  f'"Reports <reports@example.com>", "ada@example.com", '
                  f'"Report {i}", "R{i:04}", 0)']
    script = os.path.join(folder, "spool.vbs")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([pellar, "run", script], check=True, stdout=subprocess.DEVNULL)
    return outbox


def python_peer(outbox, host, port):
    """Sends every document of the outbox like pellar-mail does."""
    sent = os.path.join(outbox, "sent")
    os.makedirs(sent, exist_ok=True)
    with smtplib.SMTP(host, port) as smtp:
        for name in sorted(os.listdir(outbox)):
            if not name.endswith(".xml"):
                continue
            path = os.path.join(outbox, name)
            with open(path, "rb") as f:
                data = f.read()
            root = ElementTree.fromstring(
                data.replace(b'encoding="utf-8"', b'encoding="cp1252"'))
            doc = root.find("MailMessage")
            msg = email.message.EmailMessage()
            msg["From"] = doc.findtext("From")
            msg["To"] = doc.findtext("To")
            msg["Subject"] = doc.findtext("Subject")
            msg.set_content(doc.findtext("Body") or "")
            for attach in doc.iterfind("Extras/Attach"):
                with open(attach.text, "rb") as f:
                    content = f.read()
                kind = mimetypes.guess_type(attach.text)[0] or "application/octet-stream"
                maintype, subtype = kind.split("/")
                msg.add_attachment(content, maintype=maintype, subtype=subtype,
                                   filename=os.path.basename(attach.text))
            smtp.send_message(msg)
            os.rename(path, os.path.join(sent, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build/test"))
    parser.add_argument("--messages", type=int, default=1000)
    parser.add_argument("--attachment-kb", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    pellar = os.path.join(args.build, "programs", "pellar", "pellar")
    mailer = os.path.join(args.build, "programs", "pellar-mail", "pellar-mail")
    for program in (pellar, mailer):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build the targets pellar and pellar-mail")

    work = tempfile.mkdtemp(prefix="pellar_mail_bench_")
    server = subprocess.Popen(
        ["/usr/bin/python3", os.path.join(ROOT, "tests/mail/smtp_server.py"), "-"],
        stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        source = spool(pellar, work, args.messages, args.attachment_kb,
                       f"127.0.0.1:{port}")
        best = {"pellar-mail": float("inf"), "python peer": float("inf")}
        for round_number in range(args.rounds):
            for contender in best:
                outbox = os.path.join(work, f"{contender}-{round_number}")
                shutil.copytree(source, outbox)
                start = time.perf_counter()
                if contender == "pellar-mail":
                    subprocess.run([mailer, outbox], check=True, stdout=subprocess.DEVNULL)
                else:
                    python_peer(outbox, "127.0.0.1", port)
                seconds = time.perf_counter() - start
                sent = len(os.listdir(os.path.join(outbox, "sent")))
                if sent != args.messages:
                    sys.exit(f"{contender} sent {sent} of {args.messages}")
                best[contender] = min(best[contender], seconds)
                print(f"round {round_number + 1}: {contender:12} {seconds:7.2f} s "
                      f"({args.messages / seconds:6.1f} messages/s)")
                shutil.rmtree(outbox)
        ratio = best["pellar-mail"] / best["python peer"]
        print(f"{args.messages} messages with {args.attachment_kb} KB attachments: "
              f"pellar-mail {best['pellar-mail']:.2f} s, python peer "
              f"{best['python peer']:.2f} s")
        print(f"ratio pellar-mail / python peer = {ratio:.2f} (target <= 1.00) "
              f"{'ok' if ratio <= 1 else 'OVER TARGET'}")
    finally:
        server.kill()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
