# The HTTP goal table of scripts/bench-http.sh: one row per goal, each a ratio of figures
# from one run. Its variables (-v) are bench_http_table's: medians of the first installs
# (c curl, f floor, e engine, g private bytes' growth), nginx's "requests body sent asked"
# of each update (check, changed, edited, inserted, resumed), /proc/<pid>/io of the
# updates ("rchar wchar write_bytes": check_io, full_io, changed_io, edited_io, and
# idle_io of a process failing at once), whether rchar counts the wire (wire_share), the
# column of bytes written (wc), and the sizes (small, big).
function row(label, figure, reference, ratio, goal, met) {
  printf "%-44s %14s %14s %8s  %-36s %s\n", label, figure, reference, ratio, goal, met ? "met" : "NOT met"
}
function kib(b) { return sprintf("%.0f KiB", b / 1024) }
function mib(b) { return sprintf("%.2f MiB", b / 1048576) }
# Disk bytes, less what a process failing at once costs: read, less what came over
# the wire (bytes sent by nginx) where rchar counts it; written, from write_bytes.
function disk(io, wire, out,   x) {
  split(io, x, " "); out[1] = x[1] - idle[1] - wire_share * wire[3]; out[2] = x[wc] - idle[wc]
}
BEGIN {
  split(idle_io, idle, " ")
  row("100 MiB set, first install: engine / floor", sprintf("%.0f ms", e), sprintf("%.0f ms", f),
      (f > 0 ? sprintf("%.2fx", e / f) : "-"), "<= 1.2x the WinHTTP floor", f > 0 && e <= 1.2 * f)
  printf "%-44s %14s %14s %8s  %s\n", "  (curl, for reference)", sprintf("%.0f ms", c), sprintf("%.0f ms", f),
         (f > 0 ? sprintf("%.2fx", c / f) : "-"), "curl / floor"
  split(check, k, " "); disk(check_io, k, ci); disk(full_io, k, fi)
  row("unchanged set: requests, body bytes", k[1] " / " k[2], "1 / 0", "-", "1 request, 0 body bytes",
      k[1] == 1 && k[2] == 0)
  row("unchanged set: disk read", mib(ci[1]), mib(fi[1]), "-", "<= 1 MiB (ref.: FullVerifyDays=0)",
      ci[1] <= 1048576)
  split(edited, d, " "); disk(edited_io, d, di)
  row("64 KiB changed in 100 MiB: served", kib(d[2]), kib(256 * 1024), sprintf("%.2fx", d[2] / (256 * 1024)),
      "<= 256 KiB, index included", d[2] <= 256 * 1024)
  row("64 KiB changed in 100 MiB: disk written", mib(di[2]), mib(big), sprintf("%.2fx", di[2] / big),
      "<= 1.05x the file", di[2] <= 1.05 * big)
  row("64 KiB changed in 100 MiB: disk read", mib(di[1]), mib(big), sprintf("%.2fx", di[1] / big),
      "<= 2.2x the file", di[1] <= 2.2 * big)
  split(inserted, n, " ")
  row("100 KiB inserted in 100 MiB: served", kib(n[2]), kib(512 * 1024), sprintf("%.2fx", n[2] / (512 * 1024)),
      "<= 512 KiB", n[2] <= 512 * 1024)
  split(changed, m, " "); disk(changed_io, m, xi)
  row("1 of 50 files changed: disk written", kib(xi[2]), kib(small), sprintf("%.2fx", xi[2] / small),
      "<= 1.1x that file", xi[2] <= 1.1 * small)
  printf "%-44s %14s %14s %8s  %s\n", "  (served; disk read)", kib(m[2]), kib(xi[1]), sprintf("%.2fx", m[2] / small),
         m[1] " requests"
  if (resumed == "failed") row("cut at 60 %, then resumed: served", "failed", mib(big), "-", "<= 0.45x the file", 0)
  else {
    split(resumed, s, " ")
    row("cut at 60 %, then resumed: served", mib(s[2]), mib(big), sprintf("%.2fx", s[2] / big),
        "<= 0.45x the file", s[2] <= 0.45 * big)
  }
  printf "%-44s %14s %14s %8s  %s\n", "private bytes during the 100 MiB download", sprintf("+%.1f MB", g / 1048576),
         "before", "-", "<= +8 MB"
  printf "  (disk read: rchar, which %s the bytes of the wire here, as the floor program shows;\n",
         wire_share ? "counts" : "does not count"
  if (wc == 3) printf "   disk written: write_bytes, as wchar also counts the requests to the wineserver)\n"
  else printf "   disk written: wchar, with the requests to the wineserver: write_bytes is not counted here)\n"
}
