#!/usr/bin/env python3
"""pytds, a TDS client written without FreeTDS, against the stand-in in one profile.

Usage: pytds_client_test.py SIMHOST STANDIN 2000|2005

The 2000 profile is reached at TDS 7.1, as SQL Server 2000 needs (a client asking for 7.4
gets 7.1 token layouts before the LOGINACK that would tell it so); the 2005 profile at the
client's default, which the server acknowledges as 7.2. Exits 77 (skipped) when pytds is not
installed.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

SKIPPED = 77

try:
    import pytds
except ImportError:
    print("SKIP: pytds is not installed (Debian package python3-tds, see tools/install-deps.sh)")
    sys.exit(SKIPPED)

SIMHOST, STANDIN, PROFILE = sys.argv[1], sys.argv[2], sys.argv[3]
VERSION_TEXT = {"2000": "8.00.2039", "2005": "9.00.5000"}[PROFILE]


class StandinProcess:
    """The stand-in executable on an ephemeral loopback port, on a host of its own."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="standin-pytds-")
        host = os.path.join(self.dir, "host")
        subprocess.run([SIMHOST, "create", host], check=True, stdout=subprocess.DEVNULL)
        self.process = subprocess.Popen(
            [STANDIN, "--host", host, "--port", "0", "--profile", PROFILE],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("listening 127.0.0.1:"):
            self.stop()
            raise RuntimeError("the stand-in did not start: " + repr(line))
        self.port = int(line.rsplit(":", 1)[1])

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def connect(port):
    options = {}
    if PROFILE == "2000":
        options["tds_version"] = pytds.tds_base.TDS71
    return pytds.connect("127.0.0.1", port=port, user="sa", password="k", database="master",
                         autocommit=True, login_timeout=30, timeout=60, **options)


class PytdsClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = StandinProcess()
        cls.connection = connect(cls.server.port)

    @classmethod
    def tearDownClass(cls):
        cls.connection.close()
        cls.server.stop()

    def query(self, sql, params=None):
        with self.connection.cursor() as cursor:
            cursor.execute(sql, params)
            return cursor.fetchall()

    def server_error(self, sql):
        with self.connection.cursor() as cursor:
            with self.assertRaises(pytds.Error) as caught:
                cursor.execute(sql)
        return caught.exception

    def test_negotiated_version(self):
        # Compared by the major byte: 7.1 is acknowledged as revision 1 (0x71000001).
        expected = 0x71 if PROFILE == "2000" else 0x72
        self.assertEqual(self.connection.tds_version >> 24, expected)

    def test_catalog_select(self):
        names = [r[0] for r in self.query("SELECT name FROM master.dbo.sysdatabases")]
        self.assertEqual(sorted(names), ["master", "model", "msdb", "tempdb"])

    def test_version(self):
        [(text,)] = self.query("SELECT @@VERSION")
        self.assertIn(VERSION_TEXT, text)

    def test_detach_of_unknown_database_is_15010(self):
        error = self.server_error("exec sp_detach_db 'nothere'")
        self.assertEqual(error.msg_no, 15010)
        self.assertEqual(error.severity, 16)
        self.assertIn("The database 'nothere' does not exist.", error.text)

    def test_unknown_table_is_208(self):
        error = self.server_error("select * from nothere")
        self.assertEqual(error.msg_no, 208)
        self.assertEqual(error.text, "Invalid object name 'nothere'.")
        # The connection goes on after the error.
        self.assertEqual(self.query("SELECT 1"), [(1,)])

    def test_parameterised_select(self):
        # pytds turns the markers into @P1 ... and calls sp_executesql; at TDS 7.1 every string,
        # the statement too, travels as ntext, and pytds declares string parameters ntext there,
        # which SQL Server 2000 cannot compare with = (402).
        if PROFILE == "2000":
            with self.connection.cursor() as cursor:
                with self.assertRaises(pytds.Error) as caught:
                    cursor.execute("SELECT name FROM sysdatabases WHERE name = %s", ("msdb",))
            self.assertEqual(caught.exception.msg_no, 402)
        else:
            self.assertEqual(
                self.query("SELECT name FROM sysdatabases WHERE name = %s", ("msdb",)),
                [("msdb",)])
            self.assertEqual(
                self.query("SELECT name FROM sysdatabases WHERE name = %(n)s", {"n": "model"}),
                [("model",)])
        self.assertEqual(
            self.query("SELECT name FROM sysdatabases WHERE dbid = %s", (2,)), [("tempdb",)])
        self.assertEqual(self.query("SELECT %s, %s", (7, "x")), [(7, "x")])

    def test_sp_executesql_by_position_with_an_output(self):
        with self.connection.cursor() as cursor:
            result = cursor.callproc("sp_executesql", (
                "SELECT @P2 = name FROM sysdatabases WHERE dbid = @P1",
                "@P1 int, @P2 nvarchar(128) OUTPUT",
                3,
                pytds.output(param_type=str)))
            self.assertEqual(result[3], "model")

    def test_declared_parameter_without_value_is_8178(self):
        with self.connection.cursor() as cursor:
            with self.assertRaises(pytds.Error) as caught:
                cursor.callproc("sp_executesql", ("SELECT @P1", "@P1 int"))
        self.assertEqual(caught.exception.msg_no, 8178)
        self.assertEqual(self.query("SELECT 2"), [(2,)])


if __name__ == "__main__":
    sys.argv[1:] = []
    sys.exit(unittest.main(verbosity=2, exit=False).result.wasSuccessful() is False)
