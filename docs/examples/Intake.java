// java -cp /usr/share/java/jna.jar:. Intake FOLDER CONTAINER...: takes in
// containers over JNA. Each one is checked through and through under the
// built-in key in a single pass that also gives its password; its plain file
// appears in FOLDER, named as the container less ".enn", only once all of it
// has checked out, and never over a file already there, which is taken in
// already where it is the user's own copy of the plain data (theirs alone,
// holding exactly it): an earlier run's. Prints one line a container:
// refused ones are to go back to their senders, failed ones are to be taken
// in again once what failed is mended. Exits with 3 when any failed, else 1
// when any was refused.
import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.IntByReference;
import java.io.File;
import java.util.Map;

public final class Intake {
    /** The functions of enn.h that intake needs, from libenn.so.1. */
    public interface Enn extends Library {
        Enn LIB = Native.load("libenn.so.1", Enn.class,
                              Map.of(Library.OPTION_STRING_ENCODING, "UTF-8"));

        int ENN_PRESENT = 1;
        int ENN_KEEP_EXISTING = 1;
        int ENN_ACCEPT_PRESENT = 8;
        int ENN_PASSWORD_LENGTH = 6;

        String EnnVersion();
        Pointer EnnBuiltIn();
        String EnnFaultName(int fault);
        String EnnFaultText(int fault);
        int EnnFaultIsOutput(int fault);
        int EnnFaultIsRefusal(int fault);
        int EnnDecryptStreamEx(Pointer key, String inPath, String outPath, int placing,
                               Pointer read, Pointer write, Pointer progress, Pointer context,
                               byte[] password, IntByReference fault);
    }

    public static void main(String[] args) {
        if (args.length < 2) {
            System.err.println("usage: Intake FOLDER CONTAINER...");
            System.exit(2);
        }
        System.out.println("libenn " + Enn.LIB.EnnVersion());
        int refused = 0;
        int failed = 0;
        for (int i = 1; i < args.length; i++) {
            String container = args[i];
            String name = new File(container).getName().replaceFirst("\\.enn$", "");
            String out = new File(args[0], name).getPath();
            byte[] password = new byte[Enn.ENN_PASSWORD_LENGTH + 1];
            IntByReference fault = new IntByReference();
            int result = Enn.LIB.EnnDecryptStreamEx(Enn.LIB.EnnBuiltIn(), container, out,
                                                    Enn.ENN_KEEP_EXISTING | Enn.ENN_ACCEPT_PRESENT,
                                                    null, null, null, null, password, fault);
            if (result >= 0) {
                System.out.println(container + ": password " + Native.toString(password)
                                   + (result == Enn.ENN_PRESENT ? ", already decrypted into "
                                                                : ", decrypted into ") + out);
            } else {
                int f = fault.getValue();
                boolean refusal = Enn.LIB.EnnFaultIsRefusal(f) != 0;
                System.out.println((refusal ? "refused: " : "failed: ")
                                   + (Enn.LIB.EnnFaultIsOutput(f) != 0 ? out : container) + ": "
                                   + Enn.LIB.EnnFaultText(f) + " (" + Enn.LIB.EnnFaultName(f) + ")");
                if (refusal) {
                    refused++;
                } else {
                    failed++;
                }
            }
        }
        System.exit(failed > 0 ? 3 : refused > 0 ? 1 : 0);
    }
}
