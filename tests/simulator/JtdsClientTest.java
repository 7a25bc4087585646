// jTDS (Debian's libjtds-java), a JDBC driver written independently of FreeTDS and of this
// project, against the stand-in in one profile: the statements it sends at connect, the
// catalog, @@VERSION, a server error with its number, and prepared statements with parameters.
//
// Usage: java -cp jtds.jar JtdsClientTest.java SIMHOST STANDIN 2000|2005
//
// jTDS speaks TDS 7.1 ("tds=8.0") to both profiles. Prepared statements go as calls of
// sp_executesql (prepareSQL=2). The workstation id is given, so the driver asks for no host
// name. Exits 1 when a check fails.

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Comparator;
import java.util.List;
import java.util.stream.Stream;

public class JtdsClientTest {
    static int passed = 0;
    static int failed = 0;

    static void check(String what, boolean ok, Object detail) {
        if (ok) {
            ++passed;
            System.out.println("ok      " + what);
        } else {
            ++failed;
            System.out.println("FAILED  " + what + ": " + detail);
        }
    }

    static List<String> column(Connection c, String sql) throws SQLException {
        List<String> out = new ArrayList<>();
        try (Statement s = c.createStatement(); ResultSet r = s.executeQuery(sql)) {
            while (r.next())
                out.add(r.getString(1));
        }
        return out;
    }

    public static void main(String[] args) throws Exception {
        String simhost = args[0], standin = args[1], profile = args[2];
        String version = profile.equals("2000") ? "8.00.2039" : "9.00.5000";
        Path dir = Files.createTempDirectory("standin-jtds-");
        Path host = dir.resolve("host");
        Process server = null;
        try {
            Process create = new ProcessBuilder(simhost, "create", host.toString())
                                 .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                                 .start();
            if (create.waitFor() != 0)
                throw new IllegalStateException("simhost create failed");
            server = new ProcessBuilder(standin, "--host", host.toString(), "--port", "0",
                                        "--profile", profile)
                         .redirectError(ProcessBuilder.Redirect.INHERIT)
                         .start();
            BufferedReader out = new BufferedReader(new InputStreamReader(server.getInputStream()));
            String line = out.readLine();
            if (line == null || !line.startsWith("listening 127.0.0.1:"))
                throw new IllegalStateException("the stand-in did not start: " + line);
            int port = Integer.parseInt(line.substring(line.lastIndexOf(':') + 1));

            Class.forName("net.sourceforge.jtds.jdbc.Driver");
            String url = "jdbc:jtds:sqlserver://127.0.0.1:" + port + "/master;tds=8.0"
                         + ";prepareSQL=2;wsid=JTDS-TEST;appName=jtds-conformance"
                         + ";loginTimeout=30;socketTimeout=60";
            try (Connection c = DriverManager.getConnection(url, "sa", "k")) {
                // The connect itself ran SELECT @@MAX_PRECISION and the SET options.
                check("connected", !c.isClosed(), "closed");
                List<String> precision = column(c, "SELECT @@MAX_PRECISION");
                check("@@MAX_PRECISION is 38", precision.equals(List.of("38")), precision);

                List<String> names = column(c, "SELECT name FROM master.dbo.sysdatabases");
                Collections.sort(names);
                check("catalog", names.equals(List.of("master", "model", "msdb", "tempdb")),
                      names);

                List<String> banner = column(c, "SELECT @@VERSION");
                check("@@VERSION", banner.size() == 1 && banner.get(0).contains(version), banner);

                try (Statement s = c.createStatement()) {
                    s.execute("exec sp_detach_db 'nothere'");
                    check("error 15010", false, "no error");
                } catch (SQLException e) {
                    check("error 15010", e.getErrorCode() == 15010
                                             && e.getMessage().contains(
                                                 "The database 'nothere' does not exist."),
                          e.getErrorCode() + " " + e.getMessage());
                }
                // The connection goes on after the error.
                check("after the error", column(c, "SELECT 1").equals(List.of("1")), "");

                try (PreparedStatement p =
                         c.prepareStatement("SELECT name FROM sysdatabases WHERE dbid = ?")) {
                    p.setInt(1, 2);
                    List<String> got = new ArrayList<>();
                    try (ResultSet r = p.executeQuery()) {
                        while (r.next())
                            got.add(r.getString(1));
                    }
                    check("prepared, integer parameter", got.equals(List.of("tempdb")), got);
                    p.setInt(1, 3);
                    got.clear();
                    try (ResultSet r = p.executeQuery()) {
                        while (r.next())
                            got.add(r.getString(1));
                    }
                    check("prepared, run again", got.equals(List.of("model")), got);
                }
                try (PreparedStatement p =
                         c.prepareStatement("SELECT dbid FROM sysdatabases WHERE name = ?")) {
                    p.setString(1, "msdb");
                    try (ResultSet r = p.executeQuery()) {
                        check("prepared, text parameter", r.next() && r.getInt(1) == 4, "");
                    }
                }
            }
        } catch (Exception e) {
            check("no exception", false, e);
        } finally {
            if (server != null) {
                server.destroy();
                server.waitFor();
            }
            try (Stream<Path> walk = Files.walk(dir)) {
                walk.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
            }
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
