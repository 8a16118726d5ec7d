#!/usr/bin/python3
"""A throw-away SMTP server on 127.0.0.1 for the mail tests and benchmark.

Prints its port once it listens, then serves until killed. Each message
it accepts is stored in DIR as N.eml (the bytes received) and N.env (the
envelope: sender, then one recipient per line), unless DIR is "-"; every
login attempt appends "tls" or "plain" (how the connection was) to
DIR/auth.log.

  smtp_server.py DIR [--auth USER:PASSWORD] [--starttls CERT KEY]
                 [--ssl CERT KEY] [--reply "CODE TEXT"] [--refuse-rcpt ADDRESS]

--reply answers DATA with that reply; --refuse-rcpt answers RCPT TO that
address with 501.
"""
import argparse
import asyncio
import itertools
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult


class Store:
    def __init__(self, folder, reply, refused):
        self.folder = folder
        self.reply = reply
        self.refused = refused
        self.numbers = itertools.count(1)

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address == self.refused:
            return "501 5.1.3 Bad recipient address syntax"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.reply:
            return self.reply
        if self.folder != "-":
            base = os.path.join(self.folder, str(next(self.numbers)))
            with open(base + ".env.part", "w") as env:
                env.write("\n".join([envelope.mail_from] + envelope.rcpt_tos))
            with open(base + ".eml", "wb") as eml:
                eml.write(envelope.original_content)
            os.rename(base + ".env.part", base + ".env")
        return "250 2.0.0 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--auth")
    parser.add_argument("--starttls", nargs=2)
    parser.add_argument("--ssl", nargs=2)
    parser.add_argument("--reply")
    parser.add_argument("--refuse-rcpt")
    args = parser.parse_args()

    def context(cert_and_key):
        if not cert_and_key:
            return None
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(*cert_and_key)
        return ctx

    options = {}
    if args.auth:
        user, password = args.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, data):
            if args.folder != "-":
                encrypted = server.transport.get_extra_info("ssl_object")
                with open(os.path.join(args.folder, "auth.log"), "a") as log:
                    log.write("tls\n" if encrypted else "plain\n")
            # handled=False: the server itself answers 535 on a failure.
            return AuthResult(success=data.login.decode() == user and
                              data.password.decode() == password,
                              handled=False)

        options.update(authenticator=authenticator, auth_required=True,
                       auth_require_tls=False)
    if args.starttls:
        options.update(tls_context=context(args.starttls),
                       require_starttls=True)

    loop = asyncio.new_event_loop()
    handler = Store(args.folder, args.reply, args.refuse_rcpt)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, hostname="pellar-test", loop=loop,
                     data_size_limit=None, **options),
        "127.0.0.1", 0, ssl=context(args.ssl)))
    print(server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    main()
