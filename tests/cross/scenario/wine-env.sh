# Shared by the cross tests that run Wine programs (source it): the Turkish locale Wine needs
# for code page 1254, and FreeTDS's ODBC driver registered for unixODBC in a folder of the test
# (never in /etc), which Wine's odbc32 passes the provider's ODBC calls to.
#
#   wine_turkish_locale DIR   makes DIR/tr_TR.UTF-8 (localedef) and exports LOCPATH=DIR
#   register_freetds_odbc DIR writes DIR/odbcinst.ini and DIR/odbc.ini and exports ODBCSYSINI,
#                             ODBCINSTINI and ODBCINI; returns 1 (and says so) without the driver

wine_turkish_locale() {
    local dir=$1
    mkdir -p "$dir"
    localedef -i tr_TR -f UTF-8 "$dir/tr_TR.UTF-8" 2>/dev/null ||
        [ -f "$dir/tr_TR.UTF-8/LC_CTYPE" ] ||
        { echo "localedef could not make tr_TR.UTF-8 (Debian: locales)" >&2; return 1; }
    export LOCPATH=$dir
}

register_freetds_odbc() {
    local dir=$1 driver=""
    if command -v dpkg >/dev/null 2>&1; then
        driver=$(dpkg -L tdsodbc 2>/dev/null | grep '/libtdsodbc\.so$' | head -n 1 || true)
    fi
    if [ -z "$driver" ]; then
        echo "FreeTDS's ODBC driver is missing (Debian: tdsodbc)"
        return 1
    fi
    mkdir -p "$dir"
    printf '[FreeTDS]\nDescription = FreeTDS ODBC driver, for the tests under Wine\nDriver = %s\n' \
        "$driver" >"$dir/odbcinst.ini"
    : >"$dir/odbc.ini"
    export ODBCSYSINI=$dir ODBCINSTINI=odbcinst.ini ODBCINI=$dir/odbc.ini
}
